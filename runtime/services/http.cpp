// The HTTP client: turns a request's method, url, headers and body into
// bytes, runs it through libcurl, and makes the answer's values from the
// status, the last response's header lines and the body bytes.
#include "runtime/services/http.h"

#include <curl/curl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/platform/shared-library.h"
#include "runtime/services/file-io.h"
#include "runtime/unicode.h"

namespace kiv::http {

namespace {

// LINUX: the request object's own limits, in seconds. A connection that is
// not made within connect_timeout, or a response slower than a byte a
// second over stall_timeout, ends the request as not made.
constexpr long connect_timeout = 60;
constexpr long stall_timeout = 30;
constexpr long max_redirects = 10;
// The largest body a series can hold.
constexpr std::size_t max_content = 0x7FFFFFFF - 64;
// Room of the response headers map.
constexpr std::int32_t map_room = 20;

// The libcurl entry points the client calls.
struct Curl {
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

using shared_library::find;

// PERF: libcurl and the libraries it pulls in are loaded by the first
// request, not at every start: an empty script costs 19.97M instructions
// without them and 28.34M with them linked in. Null when the library is
// missing.
const Curl* curl() {
    static Curl api{};
    static int state = 0;  // 0 not tried, 1 loaded, -1 missing
    if (state == 0) {
        void* library = shared_library::open("libcurl.so.4");
        const bool found =
            library && find(library, "curl_easy_init", &api.easy_init) &&
            find(library, "curl_easy_setopt", &api.easy_setopt) &&
            find(library, "curl_easy_perform", &api.easy_perform) &&
            find(library, "curl_easy_getinfo", &api.easy_getinfo) &&
            find(library, "curl_easy_cleanup", &api.easy_cleanup) &&
            find(library, "curl_slist_append", &api.slist_append) &&
            find(library, "curl_slist_free_all", &api.slist_free_all);
        state = found ? 1 : -1;
    }
    return state > 0 ? &api : nullptr;
}

// Sent, in this order, when the caller gives no headers.
constexpr const char* default_headers[] = {
    "Content-Type: application/x-www-form-urlencoded",
    "Accept-Charset: UTF-8",
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)",
};
// Headers libcurl would add on its own: the request carries them only when
// the caller names them (or, for Content-Type, the defaults do).
constexpr const char* library_headers[] = {"Accept", "Content-Type", "Expect"};

// What goes out, checked and in bytes before any connection is made.
struct Request {
    std::string verb;
    std::string url;
    std::vector<std::string> headers;
    bool has_body = false;
    std::string body;
};

// What comes back: the header lines of the last response only (each status
// line starts a response and drops the lines before it) and the body.
struct Response {
    long status = 0;
    std::string head;
    std::string body;
    bool too_long = false;
};

bool same_symbol(const Cell* word, words::Sym s) {
    return symbol::resolve(word->data2) == symbol::resolve(words::symbol(s));
}

// An HTTP token: the characters a method or a header name may hold.
bool token_q(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && !std::strchr("!#$%&'*+-.^_`|~", c)) return false;
    }
    return true;
}

bool status_line_q(std::string_view line) { return line.substr(0, 5) == "HTTP/"; }

// Names are matched without regard to case, as HTTP does.
bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The verb of a method word: GET, HEAD and POST for get, head and post,
// else the word's spelling upper-cased. A spelling that is not a token
// would break the request line.
std::string verb_of(Cell* method) {
    if (same_symbol(method, words::Sym::get)) return "GET";
    if (same_symbol(method, words::Sym::head)) return "HEAD";
    if (same_symbol(method, words::Sym::post)) return "POST";
    std::string verb(symbol::text(method->data2));
    for (char& c : verb)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (!token_q(verb)) fire(ErrorId::script_invalid_arg, method);
    return verb;
}

// The url's text as it is molded: every byte outside the url characters
// escaped, so spaces and control bytes never reach the request line.
std::string url_text(Cell* url) {
    const std::string raw = string::to_utf8(url);
    std::string out;
    for (const char c : raw) {
        int n = 0;
        const char* escaped = url::escape_byte(url::Table::url, static_cast<std::uint8_t>(c), &n);
        out.append(escaped, static_cast<std::size_t>(n));
    }
    return out;
}

// A header name's or value's text: a word's spelling (names only), a
// string as it is, anything else formed. Allocates.
std::string header_text(Cell* value, bool name) {
    const Type t = value->type();
    if (name && (t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word))
        return std::string(symbol::text(value->data2));
    if (t == Type::string) return string::to_utf8(value);
    Cell text;
    string::make_at(&text, 16);
    string::form_value(value, &text, -1);
    return string::to_utf8(&text);
}

// One "Name: value" line. A name that is not a token, or a value holding
// a line break or NUL, would let the caller forge further headers.
std::string header_line(Cell* name, Cell* value) {
    const std::string n = header_text(name, true);
    if (!token_q(n)) fire(ErrorId::script_invalid_arg, name);
    const std::string v = header_text(value, false);
    if (v.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        fire(ErrorId::script_invalid_arg, value);
    // libcurl takes "Name:" as "send no such header"; "Name;" sends it empty.
    return v.empty() ? n + ";" : n + ": " + v;
}

// The caller's header pairs, from the block's index to its tail. A name
// left without a value fires script invalid-arg with it.
void add_caller_headers(Request& rq, Cell* headers) {
    const std::int64_t index = static_cast<std::int32_t>(headers->data1);
    for (std::int64_t i = index;; i += 2) {
        // GC: forming a header allocates; the block's cells are read again
        // for each pair.
        memory::SeriesBuffer* b = memory::buffer_of(headers->data2);
        const std::int64_t length = static_cast<std::int64_t>(b->length());
        if (i >= length) break;
        Cell name = b->cells()[i];
        if (i + 1 >= length) fire(ErrorId::script_invalid_arg, &name);
        Cell value = b->cells()[i + 1];
        rq.headers.push_back(header_line(&name, &value));
    }
}

bool names_header_q(const Request& rq, std::string_view name) {
    for (const std::string& line : rq.headers) {
        const std::size_t end = line.find_first_of(":;");
        if (same_name(std::string_view(line).substr(0, end), name)) return true;
    }
    return false;
}

Request build(Cell* method, Cell* url, Cell* headers, Cell* data) {
    Request rq;
    rq.verb = verb_of(method);
    rq.url = url_text(url);
    if (headers) add_caller_headers(rq, headers);
    else rq.headers.assign(std::begin(default_headers), std::end(default_headers));
    for (const char* name : library_headers)
        if (!names_header_q(rq, name)) rq.headers.push_back(std::string(name) + ":");
    if (data && rq.verb != "GET" && rq.verb != "HEAD") {
        if (data->is(Type::string)) rq.body = string::to_utf8(data);
        else if (data->is(Type::binary))
            rq.body.assign(reinterpret_cast<const char*>(binary::ks_head(data)),
                           static_cast<std::size_t>(binary::ks_length(data)));
        else fire(ErrorId::script_invalid_arg, data);
        rq.has_body = true;
    }
    return rq;
}

// ---------------------------------------------------------------------------
// The transfer.

std::size_t on_body(char* bytes, std::size_t, std::size_t count, void* user) {
    auto* rs = static_cast<Response*>(user);
    if (rs->body.size() + count > max_content) {
        rs->too_long = true;
        return 0;  // ends the transfer
    }
    rs->body.append(bytes, count);
    return count;
}

std::size_t on_header(char* bytes, std::size_t, std::size_t count, void* user) {
    auto* rs = static_cast<Response*>(user);
    if (status_line_q(std::string_view(bytes, count))) rs->head.clear();
    rs->head.append(bytes, count);
    return count;
}

struct Easy {
    const Curl& api;
    CURL* handle = api.easy_init();
    ~Easy() {
        if (handle) api.easy_cleanup(handle);
    }
};

struct HeaderList {
    const Curl& api;
    curl_slist* list = nullptr;
    ~HeaderList() { api.slist_free_all(list); }
    bool add(const std::string& line) {
        curl_slist* grown = api.slist_append(list, line.c_str());
        if (grown) list = grown;
        return grown != nullptr;
    }
};

void set_method(const Curl& api, CURL* h, const Request& rq) {
    if (rq.verb == "HEAD") {
        api.easy_setopt(h, CURLOPT_NOBODY, 1L);
        return;
    }
    if (rq.verb == "GET") {
        api.easy_setopt(h, CURLOPT_HTTPGET, 1L);
        return;
    }
    if (rq.verb == "POST") api.easy_setopt(h, CURLOPT_POST, 1L);
    else api.easy_setopt(h, CURLOPT_CUSTOMREQUEST, rq.verb.c_str());
    // A POST without data still goes out with an empty body.
    if (rq.has_body || rq.verb == "POST") {
        api.easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(rq.body.size()));
        api.easy_setopt(h, CURLOPT_POSTFIELDS, rq.body.data());
    }
}

// Runs the request; whether a response arrived.
bool perform(const Curl& api, const Request& rq, Response& rs) {
    Easy easy{api};
    if (!easy.handle) return false;
    HeaderList list{api};
    for (const std::string& line : rq.headers)
        if (!list.add(line)) return false;
    CURL* h = easy.handle;
    api.easy_setopt(h, CURLOPT_URL, rq.url.c_str());
    api.easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    api.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    api.easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    api.easy_setopt(h, CURLOPT_MAXREDIRS, max_redirects);
    api.easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connect_timeout);
    api.easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api.easy_setopt(h, CURLOPT_LOW_SPEED_TIME, stall_timeout);
    api.easy_setopt(h, CURLOPT_HTTPHEADER, list.list);
    api.easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    api.easy_setopt(h, CURLOPT_WRITEDATA, &rs);
    api.easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    api.easy_setopt(h, CURLOPT_HEADERDATA, &rs);
    set_method(api, h, rq);
    if (api.easy_perform(h) != CURLE_OK) return false;
    api.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &rs.status);
    return true;
}

// ---------------------------------------------------------------------------
// The answer's values.

bool utf8_q(const std::uint8_t* p, const std::uint8_t* end) {
    while (p < end) {
        std::int32_t cp = 0;
        p = unicode::fast_decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
    }
    return true;
}

// A header value's string: its UTF-8, or, when it is not UTF-8 (servers
// still send Latin-1), each byte as the character of that code.
void header_value(const char* text, std::size_t size, Cell* out) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
    if (utf8_q(bytes, bytes + size)) {
        string::decode_utf8(bytes, static_cast<std::int64_t>(size), out);
        return;
    }
    std::string wide;
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t encoded[4];
        const int n = unicode::encode_utf8_char(bytes[i], encoded);
        wide.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(n));
    }
    string::decode_utf8(reinterpret_cast<const std::uint8_t*>(wide.data()),
                        static_cast<std::int64_t>(wide.size()), out);
}

// Puts the value under the key, or gathers it with the values already
// there into a block.
void add_entry(Cell* map, Cell* key, Cell* value) {
    Cell* present = map::get(map, key, false);
    if (!present) {
        map::put(map, key, value, false);
        return;
    }
    // GC: the entry cell may move once anything allocates; keep a copy.
    Cell old = *present;
    if (old.is(Type::block)) {
        block::ks_append(&old, value);
        return;
    }
    Cell both;
    block::make_at(&both, 2);
    block::ks_append(&both, &old);
    block::ks_append(&both, value);
    map::put(map, key, &both, false);
}

void add_line(Cell* map, std::string_view line) {
    if (status_line_q(line)) return;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !token_q(line.substr(0, colon))) return;
    std::size_t from = colon + 1;
    std::size_t to = line.size();
    while (from < to && (line[from] == ' ' || line[from] == '\t')) ++from;
    while (to > from && (line[to - 1] == ' ' || line[to - 1] == '\t')) --to;
    Cell key;
    word::make_at(symbol::make_from_buffer(reinterpret_cast<const std::uint8_t*>(line.data()),
                                           static_cast<std::int32_t>(colon)),
                  &key);
    Cell value;
    header_value(line.data() + from, to - from, &value);
    add_entry(map, &key, &value);
}

void make_body(Response& rs, bool binary, bool lines, Cell* out) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(rs.body.data());
    const auto count = static_cast<std::int64_t>(rs.body.size());
    if (binary) string::make_binary(out, bytes, count);
    else if (lines) file_io::lines_to_block(bytes, count, out);
    else file_io::load_text(bytes, count, out);
}

}  // namespace

Cell* parse_headers(const char* text, std::size_t size, Cell* out) {
    map::make_at(out, nullptr, map_room);
    const std::string_view all(text, size);
    std::size_t start = 0;
    while (start < size) {
        std::size_t end = all.find('\n', start);
        if (end == std::string_view::npos) end = size;
        std::size_t stop = end;
        if (stop > start && all[stop - 1] == '\r') --stop;
        add_line(out, all.substr(start, stop - start));
        start = end + 1;
    }
    return out;
}

void request(Cell* result, Cell* method, Cell* url, Cell* headers, Cell* data, bool binary,
             bool lines, bool info) {
    const Curl* api = curl();
    if (!api) fire(ErrorId::internal_feature_na);
    const Request rq = build(method, url, headers, data);
    Response rs;
    const bool answered = perform(*api, rq, rs);
    if (rs.too_long) fire(ErrorId::script_too_long);
    if (!answered) return;
    // GC: the cells below live on the C stack, which the collector scans.
    Cell body;
    make_body(rs, binary, lines, &body);
    if (!info) {
        *result = body;
        return;
    }
    Cell answer;
    block::make_at(&answer, 3);
    Cell status = integer::make_cell(static_cast<std::int32_t>(rs.status));
    block::ks_append(&answer, &status);
    Cell map;
    parse_headers(rs.head.data(), rs.head.size(), &map);
    block::ks_append(&answer, &map);
    block::ks_append(&answer, &body);
    *result = answer;
}

void init() { url::http_request = request; }

}  // namespace kiv::http
