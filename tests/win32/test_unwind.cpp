// Exceptions through frames whose unwind table was written the way the DLL's is
// (-fno-dwarf2-cfi-asm) and then rewritten by cmake/compact_eh_frame.py after the link
// (tests/win32/plugin.cmake): each catch must find its handler and run the cleanups of
// every frame between, with the callee-saved registers those frames restore intact.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

namespace {

std::string gTrail;

struct Mark {
    explicit Mark(char c) : c_(c) {}
    ~Mark() { gTrail += c_; }
    char c_;
};

// Opaque to the optimiser, so every frame stays a frame of its own.
volatile int gDepth = 4;

__attribute__((noinline)) int deepest(int n) {
    Mark m('a');
    if (n == gDepth) throw std::runtime_error("deep");
    return n;
}

// Keeps several values live across the call, so the frame saves and restores the
// callee-saved registers the table describes.
__attribute__((noinline)) int middle(int n) {
    Mark m('b');
    int a = n * 3, b = n + 7, c = n ^ 5, d = n - 11;
    int r = deepest(n);
    return r + a * b + c * d;
}

__attribute__((noinline)) int outer(int n) {
    Mark m('c');
    int x = n * 13;
    return middle(n) + x;
}

__attribute__((noinline)) int rethrower(int n) {
    Mark m('d');
    try {
        return outer(n);
    } catch (const std::logic_error&) {
        return -1;  // not the thrown type: the search goes on past this frame
    } catch (...) {
        gTrail += 'r';
        throw;
    }
}

TEST(Unwind, CatchesThroughFramesRunningEachCleanupInOrder) {
    gTrail.clear();
    int kept = 1234567, other = 7654321;
    try {
        rethrower(4);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "deep");
    }
    EXPECT_EQ(gTrail, "abcrd");
    EXPECT_EQ(kept + other, 8888888);
    gTrail.clear();
    EXPECT_EQ(rethrower(3), 3 + 9 * 10 + (3 ^ 5) * -8 + 39);
    EXPECT_EQ(gTrail, "abcd");
}

TEST(Unwind, AllocationFailureIsCaught) {
    volatile size_t huge = static_cast<size_t>(-1) / 2;
    bool caught = false;
    try {
        Mark m('x');
        gTrail.clear();
        char* p = new char[huge];
        p[0] = 1;
        delete[] p;
    } catch (const std::bad_alloc&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(gTrail, "x");
}

}  // namespace
