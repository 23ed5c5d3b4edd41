// The response header parser, byte for byte, without a network.
#include <string>

#include <gtest/gtest.h>

#include "net/HttpHeader.h"

namespace {

constexpr HeaderResult Complete = HeaderResult::Complete, Incomplete = HeaderResult::Incomplete,
                       Bad = HeaderResult::BadResponse, Http = HeaderResult::HttpError;

struct HeaderCase {
    const char* name;
    std::string input;
    HeaderResult result;
    std::string rest;  // the body when complete, the error text for HttpError
};

TEST(ParseHeader, Table) {
    const HeaderCase cases[] = {
        {"crlf header", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody", Complete, "body"},
        {"http/1.1 accepted", "HTTP/1.1 200 OK\r\n\r\nbody", Complete, "body"},
        {"any 2xx", "HTTP/1.0 206 Partial\r\n\r\nb", Complete, "b"},
        {"lf only", "HTTP/1.0 200 OK\nA: b\n\nbody\n", Complete, "body\n"},
        {"cr starts the empty line whatever follows", "HTTP/1.0 200 OK\r\n\rjunk\nbody", Complete, "body"},
        {"tabs and leading blanks", " \tHTTP/1.0\t200\tOK\r\n\r\nx", Complete, "x"},
        {"header complete, no body yet", "HTTP/1.0 200 OK\r\n\r\n", Complete, ""},
        {"lying content-length ignored", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n12345", Complete, "12345"},
        {"no line end", "HTTP/1.0 200 OK", Incomplete, ""},
        {"no empty line yet", "HTTP/1.0 200 OK\r\nServer: x\r\n", Incomplete, ""},
        {"last line unterminated", "HTTP/1.0 200 OK\r\nServer: x", Incomplete, ""},
        {"empty line without its LF", "HTTP/1.0 200 OK\r\n\r", Incomplete, ""},
        {"icy", "ICY 200 OK\r\n\r\n", Bad, ""},
        {"lower-case version", "http/1.0 200 OK\r\n\r\n", Bad, ""},
        {"short first token", "HTTP 200 OK\r\n\r\n", Bad, ""},
        {"empty first line", "\r\n\r\n", Bad, ""},
        {"version without code", "HTTP/1.0\r\n\r\n", Bad, ""},
        {"404 with phrase", "HTTP/1.0 404 Not Found\r\n\r\n", Http, "Not Found"},
        {"404 without phrase", "HTTP/1.0 404\r\n\r\n", Http, "404"},
        {"404 with blanks only", "HTTP/1.0 404  \t\r\n\r\n", Http, "404"},
        {"phrase kept as sent", "HTTP/1.0 404 Not  Found \r\n\r\n", Http, "Not  Found "},
        {"phrase with lf only", "HTTP/1.0 500 Internal Server Error\n\n", Http, "Internal Server Error"},
        {"301 not followed", "HTTP/1.0 301 Moved Permanently\r\nLocation: /x\r\n\r\n", Http, "Moved Permanently"},
        {"error known before the header ends", "HTTP/1.0 403 Forbidden\r\nX: y", Http, "Forbidden"},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[4096];
        c.input.copy(buffer, c.input.size());
        uint32_t length = static_cast<uint32_t>(c.input.size());
        ASSERT_EQ(parseHeader(buffer, length), c.result);
        if (c.result == Complete)
            EXPECT_EQ(std::string(buffer, length), c.rest);
        else if (c.result == Http)
            EXPECT_STREQ(buffer, c.rest.c_str());
        else
            EXPECT_EQ(length, c.input.size());
    }
}

// A reason phrase that fills the whole buffer still leaves room for its terminator.
TEST(ParseHeader, ErrorTextFillingTheBuffer) {
    char buffer[4096];
    std::string line = "HTTP/1.0 500 " + std::string(4096 - 14, 'e') + "\n";
    ASSERT_EQ(line.size(), sizeof buffer);
    line.copy(buffer, line.size());
    uint32_t length = sizeof buffer;
    ASSERT_EQ(parseHeader(buffer, length), Http);
    EXPECT_EQ(std::string(buffer), std::string(4096 - 14, 'e'));
}

}  // namespace
