// The response header parser, byte for byte, without a network.
#include <string>

#include <gtest/gtest.h>

#include "net/HttpHeader.h"

namespace {

struct HeaderCase {
    const char* name;
    std::string input;
    int result;
    std::string rest;  // the body for 1, the error text for -2
};

TEST(ParseHeader, Table) {
    const HeaderCase cases[] = {
        {"crlf header", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody", 1, "body"},
        {"http/1.1 accepted", "HTTP/1.1 200 OK\r\n\r\nbody", 1, "body"},
        {"any 2xx", "HTTP/1.0 206 Partial\r\n\r\nb", 1, "b"},
        {"lf only", "HTTP/1.0 200 OK\nA: b\n\nbody\n", 1, "body\n"},
        {"cr starts the empty line whatever follows", "HTTP/1.0 200 OK\r\n\rjunk\nbody", 1, "body"},
        {"tabs and leading blanks", " \tHTTP/1.0\t200\tOK\r\n\r\nx", 1, "x"},
        {"header complete, no body yet", "HTTP/1.0 200 OK\r\n\r\n", 1, ""},
        {"lying content-length ignored", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n12345", 1, "12345"},
        {"no line end", "HTTP/1.0 200 OK", 0, ""},
        {"no empty line yet", "HTTP/1.0 200 OK\r\nServer: x\r\n", 0, ""},
        {"last line unterminated", "HTTP/1.0 200 OK\r\nServer: x", 0, ""},
        {"empty line without its LF", "HTTP/1.0 200 OK\r\n\r", 0, ""},
        {"icy", "ICY 200 OK\r\n\r\n", -1, ""},
        {"lower-case version", "http/1.0 200 OK\r\n\r\n", -1, ""},
        {"short first token", "HTTP 200 OK\r\n\r\n", -1, ""},
        {"empty first line", "\r\n\r\n", -1, ""},
        {"version without code", "HTTP/1.0\r\n\r\n", -1, ""},
        {"404 with phrase", "HTTP/1.0 404 Not Found\r\n\r\n", -2, "Not Found"},
        {"404 without phrase", "HTTP/1.0 404\r\n\r\n", -2, "404"},
        {"404 with blanks only", "HTTP/1.0 404  \t\r\n\r\n", -2, "404"},
        {"phrase kept as sent", "HTTP/1.0 404 Not  Found \r\n\r\n", -2, "Not  Found "},
        {"phrase with lf only", "HTTP/1.0 500 Internal Server Error\n\n", -2, "Internal Server Error"},
        {"301 not followed", "HTTP/1.0 301 Moved Permanently\r\nLocation: /x\r\n\r\n", -2, "Moved Permanently"},
        {"error known before the header ends", "HTTP/1.0 403 Forbidden\r\nX: y", -2, "Forbidden"},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[4096];
        c.input.copy(buffer, c.input.size());
        uint32_t length = static_cast<uint32_t>(c.input.size());
        ASSERT_EQ(parseHeader(buffer, length), c.result);
        if (c.result == 1)
            EXPECT_EQ(std::string(buffer, length), c.rest);
        else if (c.result == -2)
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
    ASSERT_EQ(parseHeader(buffer, length), -2);
    EXPECT_EQ(std::string(buffer), std::string(4096 - 14, 'e'));
}

}  // namespace
