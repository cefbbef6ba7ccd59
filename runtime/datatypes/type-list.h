// The datatype ids, in id order. ORDER TYPES: the ids are stored in cells,
// in serialized images and in the action tables; never reorder this list.
#pragma once

// X(id, identifier, language name)
#define KIV_TYPE_LIST(X)            \
    X(1, datatype, "datatype!")     \
    X(2, unset, "unset!")           \
    X(3, none, "none!")             \
    X(4, logic, "logic!")           \
    X(5, block, "block!")           \
    X(6, paren, "paren!")           \
    X(7, string, "string!")         \
    X(8, file, "file!")             \
    X(9, url, "url!")               \
    X(10, char_, "char!")           \
    X(11, integer, "integer!")      \
    X(12, float_, "float!")         \
    X(13, symbol, "symbol!")        \
    X(14, context, "context!")      \
    X(15, word, "word!")            \
    X(16, set_word, "set-word!")    \
    X(17, lit_word, "lit-word!")    \
    X(18, get_word, "get-word!")    \
    X(19, refinement, "refinement!") \
    X(20, issue, "issue!")          \
    X(21, native, "native!")        \
    X(22, action, "action!")        \
    X(23, op, "op!")                \
    X(24, function, "function!")    \
    X(25, path, "path!")            \
    X(26, lit_path, "lit-path!")    \
    X(27, set_path, "set-path!")    \
    X(28, get_path, "get-path!")    \
    X(29, routine, "routine!")      \
    X(30, bitset, "bitset!")        \
    X(31, triple, "triple!")        \
    X(32, object, "object!")        \
    X(33, typeset, "typeset!")      \
    X(34, error, "error!")          \
    X(35, vector, "vector!")        \
    X(36, hash, "hash!")            \
    X(37, pair, "pair!")            \
    X(38, percent, "percent!")      \
    X(39, tuple, "tuple!")          \
    X(40, map, "map!")              \
    X(41, binary, "binary!")        \
    X(42, series, "series!")        \
    X(43, time, "time!")            \
    X(44, tag, "tag!")              \
    X(45, email, "email!")          \
    X(46, handle, "handle!")        \
    X(47, date, "date!")            \
    X(48, port, "port!")            \
    X(49, money, "money!")          \
    X(50, ref, "ref!")              \
    X(51, point2d, "point2D!")      \
    X(52, point3d, "point3D!")      \
    X(53, image, "image!")          \
    X(54, event, "event!")
