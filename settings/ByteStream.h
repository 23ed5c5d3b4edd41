#pragma once
// The seam between the record reader and writer and where the bytes live: a file under Windows, or
// memory, so that the parsing of record files can be fed and checked without windows.h.
#include <cstddef>
#include <cstdint>
#include <vector>

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to `size` bytes; returns how many. Fewer than asked means the end or an error.
    virtual size_t read(void* bytes, size_t size) = 0;
    // Moves the position forward; false when that passes the end.
    virtual bool skip(size_t size) = 0;
    // Bytes between the position and the end, so that no length read from the data allocates more.
    virtual uint64_t remaining() const = 0;
    virtual bool atEnd() const = 0;
    virtual bool failed() const = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False once any write failed; a failed sink stays failed.
    virtual bool write(const void* bytes, size_t size) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* bytes, size_t size);
    size_t read(void* bytes, size_t size) override;
    bool skip(size_t size) override;
    uint64_t remaining() const override;
    bool atEnd() const override;
    bool failed() const override;

private:
    const uint8_t* bytes_;
    size_t size_;
    size_t position_ = 0;
};

class MemorySink : public ByteSink {
public:
    bool write(const void* bytes, size_t size) override;
    std::vector<uint8_t> bytes;
};
