// A stand-in for the console's `launch`, until the console engine exists:
// runs the script named on the command line, or reads standard input line
// by line, gathering lines until every bracket, paren, brace and string is
// closed, and evaluates each complete input, printing "== " and the molded
// value of a result that is not unset, or the error in its standard form
// and a blank line. Answers the process's exit status.
#pragma once

namespace kiv::console {

int launch(int argc, char** argv);

}  // namespace kiv::console
