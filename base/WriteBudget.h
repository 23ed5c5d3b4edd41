#pragma once
// A bound on what several files may hold together: the downloads of one connection attempt into a
// version folder, so that a router cannot fill the disk with bodies that are each small enough.
// Writers ask it before each write.
#include <cstdint>

class WriteBudget {
public:
    explicit WriteBudget(uint64_t limit) : limit_(limit) {}
    // Counts the bytes when they fit; false, counting nothing, when they would pass the limit.
    bool take(uint64_t bytes) {
        if (bytes > limit_ - used_)
            return false;
        used_ += bytes;
        return true;
    }
    // Bytes of a file that has gone again, for a writer that starts it anew.
    void giveBack(uint64_t bytes) { used_ -= bytes < used_ ? bytes : used_; }
    uint64_t limit() const { return limit_; }

private:
    uint64_t limit_;
    uint64_t used_ = 0;
};
