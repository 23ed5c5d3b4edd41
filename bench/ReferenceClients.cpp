#include "bench/ReferenceClients.h"

#include <windows.h>

#include <string>

#include "tests/support/TestServer.h"

namespace {

// One blocking connection to the benchmark's server with the request sent; none on failure.
Socket requestPlain(uint16_t port) {
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !sendAll(s.get(), "GET /plain.gz HTTP/1.0\r\n\r\n"))
        return Socket();
    return s;
}

}  // namespace

bool plainDownload(uint16_t port, const char* fileName, bool flush) {
    Socket s = requestPlain(port);
    if (!s)
        return false;
    FileHandle file(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    z_stream stream{};
    inflateInit2(&stream, 31);
    static char input[65536];
    static unsigned char output[65536];
    std::string header;
    bool inBody = false;
    int result = Z_OK;
    for (;;) {
        int n = recv(s.get(), input, sizeof input, 0);
        if (n <= 0)
            break;
        const char* data = input;
        if (!inBody) {
            header.append(input, n);
            size_t end = header.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            inBody = true;
            const size_t bodyInThis = header.size() - (end + 4);
            data = input + n - bodyInThis;
            n = static_cast<int>(bodyInThis);
        }
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream.avail_in = n;
        while (stream.avail_in > 0 && result != Z_STREAM_END) {
            stream.next_out = output;
            stream.avail_out = sizeof output;
            result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END) {
                inflateEnd(&stream);
                return false;
            }
            DWORD produced = sizeof output - stream.avail_out, written = 0;
            WriteFile(file.get(), output, produced, &written, nullptr);
        }
    }
    inflateEnd(&stream);
    if (flush && !FlushFileBuffers(file.get()))
        return false;
    return result == Z_STREAM_END;
}

bool plainReceive(uint16_t port) {
    Socket s = requestPlain(port);
    if (!s)
        return false;
    static char input[65536];
    int n;
    while ((n = recv(s.get(), input, sizeof input, 0)) > 0) {
    }
    return n == 0;
}

BareInflater::BareInflater(const char* fileName)
    : file_(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    inflateInit2(&stream_, -15);
    stream_.next_out = output_;
    stream_.avail_out = sizeof output_;
}

BareInflater::~BareInflater() { inflateEnd(&stream_); }

void BareInflater::flush() {
    DWORD written = 0;
    WriteFile(file_.get(), output_, static_cast<DWORD>(sizeof output_ - stream_.avail_out), &written, nullptr);
    stream_.next_out = output_;
    stream_.avail_out = sizeof output_;
}

void BareInflater::handleData(const char* bytes, uint32_t length) {
    const uint32_t skip = headerLeft_ < length ? headerLeft_ : length;
    headerLeft_ -= skip;
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes + skip));
    stream_.avail_in = length - skip;
    while (stream_.avail_in > 0 && !ended_) {
        ended_ = inflate(&stream_, Z_NO_FLUSH) != Z_OK;
        if (stream_.avail_out == 0)
            flush();
    }
}
