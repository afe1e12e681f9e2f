#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace ocmap::progress {

namespace {

// Over 100k routes. A file is judged by its size before it is parsed: a
// route with two next-hops takes about 400 bytes of XML, so 32 MB is about
// 80k routes, near enough to start talking early.
constexpr std::size_t big_routes = 100000;
constexpr std::size_t big_bytes = 32u << 20;

struct line {
    std::mutex m;
    std::condition_variable wake;
    bool terminal = false;
    bool big = false;
    bool stop = false;
    std::string what;
    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
    std::thread ticker;

    void draw() {
        auto s = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                  since)
                     .count();
        std::fprintf(stderr, "\r\033[Kocmap: %s (%llds)", what.c_str(), static_cast<long long>(s));
        std::fflush(stderr);
    }

    void run() {
        std::unique_lock<std::mutex> lock(m);
        while (!stop) {
            if (big && !what.empty()) draw();
            wake.wait_for(lock, std::chrono::milliseconds(500));
        }
    }

    void make_big() {
        std::lock_guard<std::mutex> lock(m);
        if (!terminal || big) return;
        big = true;
        ticker = std::thread([this] { run(); });
    }
};

line &the_line() {
    static line l;
    return l;
}

}  // namespace

void start(bool on) {
    the_line().terminal = on && ::isatty(STDERR_FILENO) == 1;
}

void step(const std::string &what) {
    line &l = the_line();
    std::lock_guard<std::mutex> lock(l.m);
    l.what = what;
    l.wake.notify_one();
}

void input_bytes(std::size_t bytes) {
    if (bytes > big_bytes) the_line().make_big();
}

void input_routes(std::size_t routes) {
    if (routes > big_routes) the_line().make_big();
}

void finish() {
    line &l = the_line();
    {
        std::lock_guard<std::mutex> lock(l.m);
        if (!l.big) return;
        l.stop = true;
        l.big = false;
        l.wake.notify_one();
    }
    l.ticker.join();
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

}  // namespace ocmap::progress
