// The error catalogue's categories and ids, in catalogue order, with each
// id's message template. ORDER ERRORS: an id's code is its category code
// plus its position in the category, so never reorder or drop an entry.
//
// A template is written as the value the catalogue holds: a string ("..."),
// a block of strings and of the words or get-words arg1, arg2, arg3 naming
// the error's fields ([:arg1 "has no value"]), or the word arg1 alone (the
// error's arg1 is the message). error! builds the catalogue from it.
#pragma once

// KIV_ERROR_CATEGORIES(C): C(index, identifier, language name, title)
#define KIV_ERROR_CATEGORIES(C) \
    C(0, throw_, "throw", "Throw Error") \
    C(1, note, "note", "note") \
    C(2, syntax, "syntax", "Syntax Error") \
    C(3, script, "script", "Script Error") \
    C(4, math, "math", "Math Error") \
    C(5, access, "access", "Access Error") \
    C(6, reserved1, "reserved1", "Reserved1 Error") \
    C(7, reserved2, "reserved2", "Reserved2 Error") \
    C(8, user, "user", "User Error") \
    C(9, internal, "internal", "Internal Error")

// KIV_ERROR_IDS(E): E(category identifier, id identifier, language name, template)
#define KIV_ERROR_IDS(E) \
    E(throw_, break_, "break", R"~("no loop to break")~") \
    E(throw_, return_, "return", R"~("return or exit not in function")~") \
    E(throw_, throw_, "throw", R"~(["no catch for throw:" :arg1])~") \
    E(throw_, continue_, "continue", R"~("no loop to continue")~") \
    E(throw_, while_cond, "while-cond", R"~("BREAK/CONTINUE cannot be used in WHILE condition block")~") \
    E(note, no_load, "no-load", R"~(["cannot load: " :arg1])~") \
    E(syntax, invalid_, "invalid", R"~([:arg1 "invalid" :arg2 "at" :arg3])~") \
    E(syntax, missing_, "missing", R"~([:arg1 "missing" :arg2 "at" :arg3])~") \
    E(syntax, no_header, "no-header", R"~(["script is missing a Kiv header:" :arg1])~") \
    E(syntax, no_ks_header, "no-ks-header", R"~(["script is missing a Kiv/System header:" :arg1])~") \
    E(syntax, bad_header, "bad-header", R"~(["script header is not valid:" :arg1])~") \
    E(syntax, malconstruct, "malconstruct", R"~([:arg1 "invalid construction spec at" :arg2])~") \
    E(syntax, bad_char, "bad-char", R"~([:arg1 "invalid character at" :arg2])~") \
    E(script, no_value, "no-value", R"~([:arg1 "has no value"])~") \
    E(script, need_value, "need-value", R"~([:arg1 "needs a value"])~") \
    E(script, not_defined, "not-defined", R"~([:arg1 "is not defined while its function is not running"])~") \
    E(script, not_in_context, "not-in-context", R"~([:arg1 "is not in the specified context"])~") \
    E(script, no_arg, "no-arg", R"~([:arg1 "is missing its" :arg2 "argument"])~") \
    E(script, expect_arg, "expect-arg", R"~([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])~") \
    E(script, expect_val, "expect-val", R"~(["expected" :arg1 "not" :arg2])~") \
    E(script, expect_type, "expect-type", R"~([:arg1 "field expects a value of type" :arg2])~") \
    E(script, cannot_use, "cannot-use", R"~(["cannot use" :arg1 "on" :arg2 "value"])~") \
    E(script, invalid_arg, "invalid-arg", R"~(["invalid argument:" :arg1])~") \
    E(script, invalid_type, "invalid-type", R"~([:arg1 "type is not allowed here"])~") \
    E(script, invalid_type_spec, "invalid-type-spec", R"~(["invalid type specifier:" :arg1])~") \
    E(script, invalid_key_type, "invalid-key-type", R"~(["invalid key type:" :arg1])~") \
    E(script, invalid_op, "invalid-op", R"~(["invalid operator:" :arg1])~") \
    E(script, no_op_arg, "no-op-arg", R"~("operator is missing an argument")~") \
    E(script, bad_op_spec, "bad-op-spec", R"~("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")~") \
    E(script, invalid_data, "invalid-data", R"~(["data not in correct format:" :arg1])~") \
    E(script, invalid_part, "invalid-part", R"~(["invalid /part count:" :arg1])~") \
    E(script, not_same_type, "not-same-type", R"~("values must be of the same type")~") \
    E(script, not_same_class, "not-same-class", R"~(["cannot coerce" :arg1 "to" :arg2])~") \
    E(script, not_related, "not-related", R"~(["incompatible argument for" :arg1 "of" :arg2])~") \
    E(script, bad_func_def, "bad-func-def", R"~(["invalid function definition:" :arg1])~") \
    E(script, bad_func_arg, "bad-func-arg", R"~(["invalid function argument:" :arg1])~") \
    E(script, bad_func_extern, "bad-func-extern", R"~(["invalid /extern value:" :arg1])~") \
    E(script, no_refine, "no-refine", R"~([:arg1 "has no refinement called" :arg2])~") \
    E(script, bad_refines, "bad-refines", R"~("incompatible or invalid refinements")~") \
    E(script, bad_refine, "bad-refine", R"~(["invalid refinement value:" :arg1])~") \
    E(script, dup_refine, "dup-refine", R"~(["duplicate refinement usage in:" :arg1])~") \
    E(script, word_first, "word-first", R"~(["path must start with a word:" :arg1])~") \
    E(script, empty_path, "empty-path", R"~("cannot evaluate an empty path value")~") \
    E(script, unset_path, "unset-path", R"~([:arg1 "is unset in path" :arg2])~") \
    E(script, invalid_path, "invalid-path", R"~(["cannot access" :arg2 "in path" :arg1])~") \
    E(script, invalid_path_set, "invalid-path-set", R"~(["unsupported type in" :arg1 "set-path"])~") \
    E(script, invalid_path_get, "invalid-path-get", R"~(["unsupported type in" :arg1 "get-path"])~") \
    E(script, bad_path_type, "bad-path-type", R"~(["path element >" :arg1 "< does not apply to" :arg2 "type"])~") \
    E(script, bad_path_type2, "bad-path-type2", R"~(["path element >" :arg1 "< does not apply to" :arg2 "type"])~") \
    E(script, bad_path_set, "bad-path-set", R"~(["cannot set" :arg2 "in path" :arg1])~") \
    E(script, bad_field_set, "bad-field-set", R"~(["cannot set" :arg1 "field to" :arg2 "datatype"])~") \
    E(script, dup_vars, "dup-vars", R"~(["duplicate variable specified:" :arg1])~") \
    E(script, past_end, "past-end", R"~("out of range or past the end")~") \
    E(script, missing_arg, "missing-arg", R"~("missing a required argument or refinement")~") \
    E(script, out_of_range, "out-of-range", R"~(["value out of range:" :arg1])~") \
    E(script, invalid_chars, "invalid-chars", R"~("contains invalid characters")~") \
    E(script, invalid_compare, "invalid-compare", R"~(["cannot compare" :arg1 "with" :arg2])~") \
    E(script, wrong_type, "wrong-type", R"~(["datatype assertion failed for:" :arg1])~") \
    E(script, invalid_refine_arg, "invalid-refine-arg", R"~(["invalid" :arg1 "argument:" :arg2])~") \
    E(script, type_limit, "type-limit", R"~(["value out of the range of" :arg1])~") \
    E(script, size_limit, "size-limit", R"~(["maximum size limit reached:" :arg1])~") \
    E(script, no_return, "no-return", R"~("block did not return a value")~") \
    E(script, throw_usage, "throw-usage", R"~("invalid use of a thrown error value")~") \
    E(script, locked_word, "locked-word", R"~(["protected word - cannot modify:" :arg1])~") \
    E(script, protected_, "protected", R"~("protected value or series - cannot modify")~") \
    E(script, bad_bad, "bad-bad", R"~([:arg1 "error:" :arg2])~") \
    E(script, bad_make_arg, "bad-make-arg", R"~(["cannot MAKE" :arg1 "from:" :arg2])~") \
    E(script, bad_to_arg, "bad-to-arg", R"~(["cannot MAKE/TO" :arg1 "from:" :arg2])~") \
    E(script, invalid_months, "invalid-months", R"~("invalid system/locale/month list")~") \
    E(script, invalid_spec_field, "invalid-spec-field", R"~(["invalid" :arg1 "field in spec block"])~") \
    E(script, missing_spec_field, "missing-spec-field", R"~([:arg1 "field missing in spec block"])~") \
    E(script, move_bad, "move-bad", R"~(["cannot MOVE elements from" :arg1 "to" :arg2])~") \
    E(script, too_long, "too-long", R"~("Content too long")~") \
    E(script, invalid_char, "invalid-char", R"~(["invalid character:" :arg1])~") \
    E(script, bad_loop_series, "bad-loop-series", R"~(["Loop series changed to invalid value:" :arg1])~") \
    E(script, wrong_denom, "wrong-denom", R"~([:arg1 "not same denomination as" :arg2])~") \
    E(script, bad_denom, "bad-denom", R"~(["invalid denomination:" :arg1])~") \
    E(script, invalid_obj_evt, "invalid-obj-evt", R"~(["invalid object event handler:" :arg1])~") \
    E(script, parse_rule, "parse-rule", R"~(["PARSE - invalid rule or usage of rule:" :arg1])~") \
    E(script, parse_end, "parse-end", R"~(["PARSE - unexpected end of rule after:" :arg1])~") \
    E(script, parse_invalid_ref, "parse-invalid-ref", R"~(["PARSE - get-word refers to a different series!" :arg1])~") \
    E(script, parse_block, "parse-block", R"~(["PARSE - input must be of any-block! type:" :arg1])~") \
    E(script, parse_unsupported, "parse-unsupported", R"~("PARSE - matching by datatype not supported for any-string! input")~") \
    E(script, parse_infinite, "parse-infinite", R"~(["PARSE - infinite recursion at rule: [" :arg1 "]"])~") \
    E(script, parse_stack, "parse-stack", R"~("PARSE - stack limit reached")~") \
    E(script, parse_keep, "parse-keep", R"~("PARSE - KEEP is used without a wrapping COLLECT")~") \
    E(script, parse_into_bad, "parse-into-bad", R"~("PARSE - COLLECT INTO/AFTER invalid series! argument")~") \
    E(script, parse_into_type, "parse-into-type", R"~("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")~") \
    E(script, draw_invalid, "draw-invalid", R"~(["DRAW - invalid input at:" :arg1])~") \
    E(script, draw_infinite, "draw-infinite", R"~(["DRAW - infinite recursion at:" :arg1])~") \
    E(script, invalid_data_facet, "invalid-data-facet", R"~(["VIEW - invalid data facet content:" :arg1])~") \
    E(script, face_type, "face-type", R"~(["VIEW - invalid face type:" :arg1])~") \
    E(script, not_window, "not-window", R"~("VIEW - expected a window root face")~") \
    E(script, bad_window, "bad-window", R"~("VIEW - a window face cannot be nested in another window")~") \
    E(script, not_linked, "not-linked", R"~("VIEW - face not linked to a window")~") \
    E(script, not_event_type, "not-event-type", R"~(["VIEW - not a valid event type" :arg1])~") \
    E(script, invalid_facet_type, "invalid-facet-type", R"~(["VIEW - invalid rate value:" :arg1])~") \
    E(script, vid_invalid_syntax, "vid-invalid-syntax", R"~(["VID - invalid syntax at:" :arg1])~") \
    E(script, rtd_invalid_syntax, "rtd-invalid-syntax", R"~(["RTD - invalid syntax at:" :arg1])~") \
    E(script, rtd_no_match, "rtd-no-match", R"~(["RTD - opening/closing tag not matching for:" :arg1])~") \
    E(script, react_bad_func, "react-bad-func", R"~("REACT - /LINK option requires a function! as argument")~") \
    E(script, react_not_enough, "react-not-enough", R"~("REACT - reactive functions must accept at least 2 arguments")~") \
    E(script, react_no_match, "react-no-match", R"~("REACT - objects block length must match reaction function arg count")~") \
    E(script, react_bad_obj, "react-bad-obj", R"~("REACT - target can only contain object values")~") \
    E(script, react_gctx, "react-gctx", R"~(["REACT - word is not a reactor field:" :arg1])~") \
    E(script, lib_invalid_arg, "lib-invalid-arg", R"~(["LIBKIV - invalid argument for" :arg1])~") \
    E(script, kb_invalid_record, "kb-invalid-record", R"~(["KIVBIN - invalid record at index" :arg1])~") \
    E(math, zero_divide, "zero-divide", R"~("attempt to divide by zero")~") \
    E(math, overflow, "overflow", R"~("math or number overflow")~") \
    E(math, positive, "positive", R"~("positive number required")~") \
    E(access, cannot_open, "cannot-open", R"~(["cannot open:" :arg1])~") \
    E(access, cannot_close, "cannot-close", R"~(["cannot close:" :arg1])~") \
    E(access, invalid_utf8, "invalid-utf8", R"~(["invalid UTF-8 encoding:" :arg1])~") \
    E(access, not_open, "not-open", R"~(["port is not open:" :arg1])~") \
    E(access, no_connect, "no-connect", R"~(["cannot connect:" :arg1 "reason: timeout"])~") \
    E(access, no_scheme, "no-scheme", R"~(["missing port scheme:" :arg1])~") \
    E(access, unknown_scheme, "unknown-scheme", R"~(["scheme is unknown:" :arg1])~") \
    E(access, invalid_spec, "invalid-spec", R"~(["invalid spec or options:" :arg1])~") \
    E(access, invalid_port, "invalid-port", R"~(["invalid port object (invalid field values)"])~") \
    E(access, invalid_actor, "invalid-actor", R"~(["invalid port actor (must be handle or object)"])~") \
    E(access, no_port_action, "no-port-action", R"~("port action not supported")~") \
    E(access, no_create, "no-create", R"~(["cannot create:" :arg1])~") \
    E(access, no_codec, "no-codec", R"~(["cannot decode or encode (no codec):" :arg1])~") \
    E(access, bad_media, "bad-media", R"~(["bad media data (corrupt image, sound, video)"])~") \
    E(access, invalid_cmd, "invalid-cmd", R"~(["invalid port command:" :arg1])~") \
    E(user, message, "message", R"~(arg1)~") \
    E(internal, bad_path, "bad-path", R"~(["bad path:" arg1])~") \
    E(internal, not_here, "not-here", R"~([arg1 "not supported on your system"])~") \
    E(internal, no_memory, "no-memory", R"~("not enough memory")~") \
    E(internal, wrong_mem, "wrong-mem", R"~("failed to release memory")~") \
    E(internal, stack_overflow, "stack-overflow", R"~("stack overflow")~") \
    E(internal, limit_hit, "limit-hit", R"~(["internal limit reached:" :arg1])~") \
    E(internal, too_deep, "too-deep", R"~("block or paren series is too deep to process")~") \
    E(internal, no_cycle, "no-cycle", R"~("circular reference not allowed")~") \
    E(internal, feature_na, "feature-na", R"~("feature not available")~") \
    E(internal, not_done, "not-done", R"~("reserved for future use (or not yet implemented)")~") \
    E(internal, invalid_error, "invalid-error", R"~(["invalid error object field value:" :arg1])~") \
    E(internal, routines, "routines", R"~("routines require compilation, from OS shell: `kiv -r <script.kiv>`")~") \
    E(internal, kiv_system, "kiv-system", R"~("contains Kiv/System code which requires compilation")~") \
    E(internal, deprecated, "deprecated", R"~([arg1 "is DEPRECATED, please use" arg2 "instead"])~")
