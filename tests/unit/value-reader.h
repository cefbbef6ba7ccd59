// A small reader of source-like text for tests of callables, paths and
// objects: it builds the values a test needs from one line such as
// `a [integer!] "doc" /ref b return: [block!]` without the lexer. Words,
// set-words (a:), get-words (:a), lit-words ('a), refinements (/a), integers,
// strings ("..."), blocks [...], parens (...) and paths (a/b/1, with the
// prefix or suffix of their kind). Words are bound in the global context;
// `none`, `true` and `false` stay words, as the loader leaves them.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"

namespace kiv::test {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    // Reads values until the end or a closing bracket into `out`.
    void read_into(Cell* out, Type type) {
        block::make_at(out, 4);
        for (;;) {
            skip_blanks();
            if (at_end()) break;
            const char c = text_[pos_];
            if (c == ']' || c == ')') {
                ++pos_;
                break;
            }
            Cell value;
            read_value(&value);
            block::ks_append(out, &value);
        }
        out->set_type(type);
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;

    bool at_end() const { return pos_ >= text_.size(); }
    void skip_blanks() {
        while (!at_end() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    static bool is_delimiter(char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '(' ||
               c == ')' || c == '"';
    }

    void read_value(Cell* out) {
        const char c = text_[pos_];
        if (c == '[' || c == '(') {
            ++pos_;
            read_into(out, c == '[' ? Type::block : Type::paren);
            return;
        }
        if (c == '"') {
            const std::size_t end = text_.find('"', pos_ + 1);
            string::make_at(out, 0);
            string::append_utf8(out, text_.substr(pos_ + 1, end - pos_ - 1));
            pos_ = end + 1;
            return;
        }
        const std::size_t start = pos_;
        while (!at_end() && !is_delimiter(text_[pos_])) ++pos_;
        read_token(text_.substr(start, pos_ - start), out);
    }

    static void read_token(std::string_view token, Cell* out) {
        Type kind = Type::word;
        if (token.size() > 1 && token.front() == '\'') { kind = Type::lit_word; token.remove_prefix(1); }
        else if (token.size() > 1 && token.front() == ':') { kind = Type::get_word; token.remove_prefix(1); }
        else if (token.size() > 1 && token.back() == ':') { kind = Type::set_word; token.remove_suffix(1); }
        else if (token.size() > 1 && token.front() == '/') { kind = Type::refinement; token.remove_prefix(1); }
        if (token.size() > 1 && token.find('/') != std::string_view::npos) {
            read_path(token, kind, out);
            return;
        }
        read_simple(token, kind, out);
    }

    static void read_simple(std::string_view token, Type kind, Cell* out) {
        const bool number = std::isdigit(static_cast<unsigned char>(token.front())) ||
                            (token.size() > 1 && token.front() == '-' &&
                             std::isdigit(static_cast<unsigned char>(token[1])));
        if (number && kind == Type::word) {
            *out = integer::make_cell(std::stoi(std::string(token)));
            return;
        }
        word::load(std::string(token).c_str(), out);
        out->set_type(kind);
    }

    static void read_path(std::string_view token, Type kind, Cell* out) {
        const Type path_type = kind == Type::lit_word   ? Type::lit_path
                               : kind == Type::get_word ? Type::get_path
                               : kind == Type::set_word ? Type::set_path
                                                        : Type::path;
        block::make_at(out, 4);
        std::size_t start = 0;
        for (;;) {
            const std::size_t slash = token.find('/', start);
            Cell element;
            read_simple(token.substr(start, slash - start), Type::word, &element);
            block::ks_append(out, &element);
            if (slash == std::string_view::npos) break;
            start = slash + 1;
        }
        out->set_type(path_type);
    }
};

// The values of `text` as a block!.
inline Cell read(std::string_view text) {
    Cell out;
    Reader(text).read_into(&out, Type::block);
    return out;
}

// The first value of `text`.
inline Cell read_one(std::string_view text) {
    Cell all = read(text);
    return *block::ks_head(&all);
}

}  // namespace kiv::test
