// The file primitive where the public surface cannot reach it: calls that a
// signal interrupts, and the exclusive create's view of a name already taken.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "io/file.hpp"

namespace tessaly::io {
namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessaly_file_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string dir_;
};

volatile std::sig_atomic_t g_interruptions = 0;
void count_interruption(int) { g_interruptions = g_interruptions + 1; }

// While it lives, SIGALRM comes every millisecond and interrupts a blocked
// call instead of restarting it. `work`, the other end of the calls under
// test, runs on a thread of its own that never receives it, so every
// interruption lands on those calls; nor does it receive SIGPIPE, so that
// it just stops when the calls under test give up.
class Interrupted {
public:
    template <class Work>
    explicit Interrupted(Work work) {
        sigset_t helper_blocks, old_mask;
        sigemptyset(&helper_blocks);
        sigaddset(&helper_blocks, SIGALRM);
        sigaddset(&helper_blocks, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &helper_blocks, &old_mask);
        helper_ = std::thread(std::move(work));  // inherits the mask
        pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
        struct sigaction sa {};
        sa.sa_handler = count_interruption;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGALRM, &sa, &old_);
        g_interruptions = 0;
        const itimerval every_ms{{0, 1000}, {0, 1000}};
        setitimer(ITIMER_REAL, &every_ms, nullptr);
    }
    ~Interrupted() {
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &old_, nullptr);
        helper_.join();
    }

private:
    std::thread helper_;
    struct sigaction old_ {};
};

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The other end of a FIFO, opened without waiting forever: should the end
// under test have given up, there is nobody to wait for.
int open_other_end(const std::string& fifo, int flags) {
    for (int tries = 0; tries < 5000; ++tries, pause_ms(1)) {
        const int fd = ::open(fifo.c_str(), flags | O_NONBLOCK);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
    }
    return -1;
}

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

// A FIFO blocks the open until the other end comes, and each read or write
// until the other end has moved: long enough for many interruptions. The
// other end only comes once the end under test waits for it.
TEST_F(FileTest, InterruptedCallsAreMadeAgain) {
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sent = pattern(1 << 20);

    std::string got;
    {
        Interrupted signals([&] {
            pause_ms(30);
            const int fd = open_other_end(fifo, O_WRONLY);
            for (std::size_t at = 0; fd >= 0 && at < sent.size(); at += 65536) {
                pause_ms(2);
                if (::write(fd, sent.data() + at, 65536) < 0) break;
            }
            ::close(fd);
        });
        auto in = File::open_for_reading(fifo);
        ASSERT_TRUE(in.has_value()) << in.error();
        char buf[4096];
        for (;;) {
            auto n = in->read(buf, sizeof buf);
            ASSERT_TRUE(n.has_value()) << n.error();
            if (*n == 0) break;
            got.append(buf, *n);
        }
    }
    EXPECT_GT(g_interruptions, 10);
    EXPECT_TRUE(got == sent);

    std::string received;
    {
        Interrupted signals([&] {
            pause_ms(30);
            const int fd = open_other_end(fifo, O_RDONLY);
            pause_ms(30);  // the pipe fills and the writer waits
            char buf[65536];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0; pause_ms(1)) received.append(buf, n);
            ::close(fd);
        });
        auto out = File::open_for_writing(fifo);
        ASSERT_TRUE(out.has_value()) << out.error();
        auto w = out->write_all(sent);
        EXPECT_TRUE(w.has_value()) << w.error();
        EXPECT_TRUE(out->close().has_value());
    }
    EXPECT_GT(g_interruptions, 10);
    EXPECT_TRUE(received == sent);
}

TEST_F(FileTest, ExclusiveCreateNeverOpensWhatIsThere) {
    const std::string file = dir_ + "/file", link = dir_ + "/link", target = dir_ + "/target";
    ASSERT_TRUE(File::open_for_writing(file).has_value());
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const struct {
        std::string path;
        const char* error;  // null: taken, nothing opened
    } cases[] = {
        {file, nullptr},
        {link, nullptr},  // dangling: following it would create `target`
        {dir_ + "/missing/x", "No such file or directory (os error 2)"},
        {dir_ + std::string("\0x", 2), "file name contained an unexpected NUL byte"},
    };
    for (const auto& c : cases) {
        auto created = File::create_exclusive(c.path);
        if (c.error) {
            ASSERT_FALSE(created.has_value()) << c.path;
            EXPECT_EQ(created.error(), c.error);
        } else {
            ASSERT_TRUE(created.has_value()) << created.error();
            EXPECT_FALSE(created->has_value()) << c.path;
        }
    }
    EXPECT_NE(::access(target.c_str(), F_OK), 0);  // a fresh name's mode: temp_file_test.cpp
}

}  // namespace
}  // namespace tessaly::io
