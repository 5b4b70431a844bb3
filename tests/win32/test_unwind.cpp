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

// Two frames without cleanups, side by side: the rewrite gives them one FDE, whose rows
// must still give each call its own function's frame.
__attribute__((noinline)) int passOn(int n) {
    int a = n * 7, b = n + 5;
    int r = middle(n);
    return r + a * b;
}

__attribute__((noinline)) int passOnAgain(int n) {
    int a = n * 11, b = n - 3, c = n ^ 9;
    int r = passOn(n);
    return r + a * b * c;
}

__attribute__((noinline)) int outer(int n) {
    Mark m('c');
    int x = n * 13;
    return passOnAgain(n) + x;
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

volatile int gSeed = 1000;

// Values live across the throw sit in callee-saved registers, which reach the handler
// only as the rows of every frame between say where each frame saved them.
__attribute__((noinline)) int catcher(int n, const char** what) {
    int a = gSeed, b = gSeed * 3, c = gSeed + 77;
    try {
        rethrower(n);
    } catch (const std::runtime_error& e) {
        *what = e.what();
    }
    return a * 7 + b * 5 + c;
}

TEST(Unwind, CatchesThroughFramesRunningEachCleanupInOrder) {
    gTrail.clear();
    const char* what = nullptr;
    EXPECT_EQ(catcher(4, &what), 1000 * 7 + 3000 * 5 + 1077);
    EXPECT_STREQ(what, "deep");
    EXPECT_EQ(gTrail, "abcrd");
    gTrail.clear();
    const int fromMiddle = 3 + 9 * 10 + (3 ^ 5) * -8;
    const int fromPassOn = fromMiddle + 21 * 8;
    EXPECT_EQ(rethrower(3), fromPassOn + 33 * 0 * (3 ^ 9) + 39);
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
