// Start-up time to the first painted frame, under X.
//
//   tavimo_bench_startup <runs> <title-a> <program-a> <title-b> <program-b>
//
// Starts each program `runs` times, alternating a and b (after one unmeasured start of each),
// with the environment it was given and no argument. The clock starts just before fork/exec;
// it stops at the first DAMAGE notification on a top-level window whose title contains the
// program's title, i.e. when the program's first frame has reached the window. The program is
// then ended with SIGTERM. Prints one line per program:
//
//   startup title=<title> runs=<n> median_ms=<ms> min_ms=<ms> max_ms=<ms>
//
// The DAMAGE extension is spoken with raw xcb requests so that only libxcb's headers are needed.
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

xcb_extension_t damageExtension = {"DAMAGE", 0};
constexpr uint8_t DamageQueryVersion = 0;
constexpr uint8_t DamageCreate = 1;
constexpr uint8_t DamageReportNonEmpty = 3;

struct QueryVersionRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint32_t clientMajor;
    uint32_t clientMinor;
};

struct CreateRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint32_t damage;
    uint32_t drawable;
    uint8_t level;
    uint8_t pad[3];
};

struct DamageNotifyEvent
{
    uint8_t responseType;
    uint8_t level;
    uint16_t sequence;
    uint32_t drawable;
    uint32_t damage;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "tavimo_bench_startup: %s\n", what);
    std::exit(1);
}

template <class Request>
unsigned sendRaw(xcb_connection_t *c, uint8_t minor, Request &request, bool isVoid)
{
    xcb_protocol_request_t description = {};
    description.count = 2;
    description.ext = &damageExtension;
    description.opcode = minor;
    description.isvoid = isVoid ? 1 : 0;
    struct iovec parts[4];
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    parts[3].iov_base = nullptr;
    parts[3].iov_len = -parts[2].iov_len & 3;
    return xcb_send_request(c, isVoid ? 0 : XCB_REQUEST_CHECKED, parts + 2, &description);
}

std::string windowTitle(xcb_connection_t *c, xcb_window_t window, xcb_atom_t netWmName,
                        xcb_atom_t utf8String)
{
    const auto read = [&](xcb_atom_t property, xcb_atom_t type) {
        std::string text;
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr);
        if (reply) {
            text.assign(static_cast<const char *>(xcb_get_property_value(reply)),
                        std::size_t(xcb_get_property_value_length(reply)));
            std::free(reply);
        }
        return text;
    };
    std::string title = read(netWmName, utf8String);
    if (title.empty())
        title = read(XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    return title;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!reply)
        fail("cannot intern an atom");
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

struct Session
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    uint8_t damageMajor = 0;
    uint8_t damageFirstEvent = 0;
    xcb_atom_t netWmName = 0;
    xcb_atom_t utf8String = 0;
};

// Milliseconds from fork/exec to the first frame, or a negative value on a time-out.
double startOnce(Session &s, const char *title, const char *program)
{
    // Drop whatever is left from the previous run.
    while (xcb_generic_event_t *e = xcb_poll_for_event(s.c))
        std::free(e);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0)
        fail("fork failed");
    if (child == 0) {
        char *const argv[] = {const_cast<char *>(program), nullptr};
        execv(program, argv);
        _exit(127);
    }

    double elapsedMs = -1;
    const int fd = xcb_get_file_descriptor(s.c);
    const Clock::time_point deadline = start + std::chrono::seconds(30);
    while (elapsedMs < 0 && Clock::now() < deadline) {
        xcb_generic_event_t *event = xcb_poll_for_event(s.c);
        if (!event) {
            if (xcb_connection_has_error(s.c))
                fail("lost the X connection");
            pollfd p = {fd, POLLIN, 0};
            poll(&p, 1, 100);
            continue;
        }
        const uint8_t type = event->response_type & 0x7F;
        if (type == XCB_CREATE_NOTIFY) {
            const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
            if (created->parent == s.root) {
                CreateRequest request = {};
                request.damage = xcb_generate_id(s.c);
                request.drawable = created->window;
                request.level = DamageReportNonEmpty;
                sendRaw(s.c, DamageCreate, request, true);
                xcb_flush(s.c);
            }
        } else if (type == s.damageFirstEvent) {
            const Clock::time_point now = Clock::now();
            const auto *damaged = reinterpret_cast<DamageNotifyEvent *>(event);
            const std::string name = windowTitle(s.c, damaged->drawable, s.netWmName, s.utf8String);
            if (name.find(title) != std::string::npos)
                elapsedMs = std::chrono::duration<double, std::milli>(now - start).count();
        }
        std::free(event);
    }

    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return elapsedMs;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <runs> <title-a> <program-a> <title-b> <program-b>\n",
                     argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    const char *titles[2] = {argv[2], argv[4]};
    const char *programs[2] = {argv[3], argv[5]};

    Session s;
    int screenNumber = 0;
    s.c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(s.c))
        fail("cannot connect to the X server in DISPLAY");
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(s.c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    s.root = screens.data->root;

    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(s.c, &damageExtension);
    if (!damage || !damage->present)
        fail("the X server has no DAMAGE extension");
    s.damageMajor = damage->major_opcode;
    s.damageFirstEvent = damage->first_event; // DamageNotify is the extension's event 0
    QueryVersionRequest version = {};
    version.clientMajor = 1;
    version.clientMinor = 1;
    const unsigned sequence = sendRaw(s.c, DamageQueryVersion, version, false);
    void *reply = xcb_wait_for_reply(s.c, sequence, nullptr);
    if (!reply)
        fail("DamageQueryVersion failed");
    std::free(reply);

    s.netWmName = atom(s.c, "_NET_WM_NAME");
    s.utf8String = atom(s.c, "UTF8_STRING");
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(s.c, s.root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(s.c);

    // One unmeasured start of each: the page cache and fontconfig's caches settle.
    for (int p = 0; p < 2; ++p)
        startOnce(s, titles[p], programs[p]);

    std::vector<double> times[2];
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < 2; ++p) {
            const double ms = startOnce(s, titles[p], programs[p]);
            if (ms < 0)
                fail("a program showed no frame within 30 s");
            times[p].push_back(ms);
        }
    }
    for (int p = 0; p < 2; ++p) {
        std::printf("startup title=%s runs=%d median_ms=%.1f min_ms=%.1f max_ms=%.1f\n", titles[p],
                    runs, median(times[p]), *std::min_element(times[p].begin(), times[p].end()),
                    *std::max_element(times[p].begin(), times[p].end()));
    }
    xcb_disconnect(s.c);
    return 0;
}
