#include "InstalledApp.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <thread>

#include "support/Processes.hpp"
#include "support/TestEnv.hpp"

namespace ombry::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto until = Clock::now() + std::chrono::milliseconds(int(seconds * sanitizerSlowdown * 1000));
    while (Clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::string shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

bool near(QRgb px, int r, int g, int b, int tolerance) {
    return std::abs(qRed(px) - r) < tolerance && std::abs(qGreen(px) - g) < tolerance &&
           std::abs(qBlue(px) - b) < tolerance;
}

XClient::XClient(const std::string& display) {
    int screen = 0;
    c_ = xcb_connect(display.c_str(), &screen);
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
    screen_ = it.data;
}

XClient::~XClient() { xcb_disconnect(c_); }

std::vector<XClient::Window> XClient::windows(const std::string& title) {
    std::vector<Window> out;
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, screen_->root), nullptr);
    if (!tree) return out;
    const xcb_window_t* kids = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        auto* attrs = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, kids[i]), nullptr);
        const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attrs);
        if (!viewable) continue;
        const std::string named = name(kids[i]);
        if (!title.empty() && named != title) continue;
        auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, kids[i]), nullptr);
        if (!g) continue;
        out.push_back({kids[i], QRect(g->x, g->y, g->width, g->height), named});
        std::free(g);
    }
    std::free(tree);
    std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) {
        return a.geometry.width() * a.geometry.height() > b.geometry.width() * b.geometry.height();
    });
    return out;
}

QImage XClient::screenshot() {
    const int w = screen_->width_in_pixels, h = screen_->height_in_pixels;
    auto* r = xcb_get_image_reply(c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, 0, 0, w, h, ~0u),
                                  nullptr);
    if (!r) return {};
    QImage img(xcb_get_image_data(r), w, h, QImage::Format_RGB32);
    QImage copy = img.copy();
    std::free(r);
    return copy;
}

void XClient::requestClose(xcb_window_t window) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = window;
    e.type = atom("WM_PROTOCOLS");
    e.data.data32[0] = atom("WM_DELETE_WINDOW");
    e.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c_, false, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
    xcb_flush(c_);
}

bool XClient::dropFiles(xcb_window_t target, QPoint at, const std::vector<fs::path>& files) {
    std::string uris;
    for (const auto& f : files) uris += "file://" + f.string() + "\r\n";
    const xcb_window_t source = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, source, screen_->root, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      screen_->root_visual, 0, nullptr);
    const xcb_atom_t selection = atom("XdndSelection"), uriList = atom("text/uri-list");
    xcb_set_selection_owner(c_, source, selection, XCB_CURRENT_TIME);
    auto send = [&](const char* type, uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4) {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = target;
        e.type = atom(type);
        e.data.data32[0] = source;
        e.data.data32[1] = d1;
        e.data.data32[2] = d2;
        e.data.data32[3] = d3;
        e.data.data32[4] = d4;
        xcb_send_event(c_, false, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
        xcb_flush(c_);
    };
    // Waits for a message of the target to the source, answering its requests for the data meanwhile.
    auto await = [&](const char* type) -> std::optional<xcb_client_message_event_t> {
        const xcb_atom_t wanted = atom(type);
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < until) {
            xcb_generic_event_t* ev = xcb_poll_for_event(c_);
            if (!ev) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const int kind = ev->response_type & 0x7f;
            std::optional<xcb_client_message_event_t> got;
            if (kind == XCB_CLIENT_MESSAGE) {
                auto* m = reinterpret_cast<xcb_client_message_event_t*>(ev);
                if (m->type == wanted) got = *m;
            } else if (kind == XCB_SELECTION_REQUEST) {
                auto* r = reinterpret_cast<xcb_selection_request_event_t*>(ev);
                xcb_selection_notify_event_t n{};
                n.response_type = XCB_SELECTION_NOTIFY;
                n.time = r->time;
                n.requestor = r->requestor;
                n.selection = r->selection;
                n.target = r->target;
                n.property = r->property;
                xcb_change_property(c_, XCB_PROP_MODE_REPLACE, r->requestor, r->property, r->target, 8,
                                    uint32_t(uris.size()), uris.data());
                xcb_send_event(c_, false, r->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
                xcb_flush(c_);
            }
            std::free(ev);
            if (got) return got;
        }
        return std::nullopt;
    };
    send("XdndEnter", 5u << 24, uriList, XCB_NONE, XCB_NONE);
    send("XdndPosition", 0, uint32_t(at.x()) << 16 | uint32_t(at.y()), XCB_CURRENT_TIME, atom("XdndActionCopy"));
    const auto status = await("XdndStatus");
    bool accepted = status && (status->data.data32[1] & 1);
    if (accepted) {
        send("XdndDrop", 0, XCB_CURRENT_TIME, 0, 0);
        const auto finished = await("XdndFinished");
        accepted = finished.has_value();
    } else {
        send("XdndLeave", 0, 0, 0, 0);
    }
    xcb_destroy_window(c_, source);
    xcb_flush(c_);
    return accepted;
}

xcb_atom_t XClient::atom(const char* name) {
    auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

std::string XClient::name(xcb_window_t w) {
    auto* r = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    std::string s;
    if (r) s.assign(static_cast<const char*>(xcb_get_property_value(r)), std::size_t(xcb_get_property_value_length(r)));
    std::free(r);
    return s;
}

const fs::path& InstalledApp::prefix() {
    static const fs::path dir = [] {
        const fs::path p = tempDir("prefix");
        const int rc = runProcess({OMBRY_CMAKE, "--install", OMBRY_BUILD_DIR, "--prefix", p.string()});
        if (rc == 0) return p;
        std::fprintf(stderr, "cmake --install %s failed (%d)\n", OMBRY_BUILD_DIR, rc);
        return fs::path();
    }();
    return dir;
}

fs::path InstalledApp::treeWith(const std::string& relative, const std::string& contents) {
    const fs::path tree = tempDir("tree");
    std::error_code ec;
    fs::copy(prefix(), tree, fs::copy_options::recursive | fs::copy_options::create_hard_links, ec);
    if (ec) {
        fs::remove_all(tree);
        fs::create_directories(tree);
        fs::copy(prefix(), tree, fs::copy_options::recursive);
    }
    // A new file, not a write through the link into the installed tree.
    fs::remove(tree / relative);
    writeFile(tree / relative, contents);
    return tree;
}

InstalledApp::InstalledApp(std::string display, std::vector<std::string> extraEnv, fs::path keepLogsIn)
    : display_(std::move(display)), extraEnv_(std::move(extraEnv)), home_(tempDir("home")),
      logDir_(keepLogsIn.empty() ? home_ : std::move(keepLogsIn)) {
    for (const char* sub : {"data/Ombry", "config/Ombry", "runtime", "state"}) fs::create_directories(home_ / sub);
    fs::permissions(home_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    std::error_code ec;
    fs::create_directories(logDir_, ec);
    // A kept folder holds only this run's logs.
    if (logDir_ != home_)
        for (const auto& e : fs::directory_iterator(logDir_, ec))
            if (e.path().extension() == ".log") fs::remove(e.path(), ec);
}

InstalledApp::~InstalledApp() {
    for (pid_t p : running_) {
        ::kill(p, SIGKILL);
        int status;
        ::waitpid(p, &status, 0);
    }
    if (logDir_ == home_) return;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(home_ / "state/Ombry/logs", ec))
        fs::copy_file(e.path(), logDir_ / ("app-" + e.path().filename().string()),
                      fs::copy_options::overwrite_existing, ec);
}

std::vector<std::string> InstalledApp::environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("XDG_", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0 || v.rfind("DISPLAY=", 0) == 0) continue;
        env.push_back(v);
    }
    env.push_back("DISPLAY=" + display_);
    env.push_back("XDG_DATA_HOME=" + (home_ / "data").string());
    env.push_back("XDG_CONFIG_HOME=" + (home_ / "config").string());
    env.push_back("XDG_RUNTIME_DIR=" + (home_ / "runtime").string());
    env.push_back("XDG_STATE_HOME=" + (home_ / "state").string());
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.insert(env.end(), extraEnv_.begin(), extraEnv_.end());
    return env;
}

pid_t InstalledApp::start(std::vector<std::string> args, std::vector<std::string> extraEnv) {
    if (prefix().empty()) return -1;
    args.insert(args.begin(), ((tree_.empty() ? prefix() : tree_) / "bin/ombry").string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto env = environment();
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    const std::string log = (logDir_ / ("ombry-" + std::to_string(started_++) + ".log")).string();
    posix_spawn_file_actions_addopen(&files, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    if (pid > 0) running_.push_back(pid);
    return pid;
}

std::optional<int> InstalledApp::exitOf(pid_t pid, double seconds) {
    int status = 0;
    std::optional<int> code;
    waitFor([&] {
        if (::waitpid(pid, &status, WNOHANG) != pid) return false;
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::erase(running_, pid);
        return true;
    }, seconds);
    return code;
}

std::string InstalledApp::logs() const {
    std::string out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(logDir_, ec))
        if (e.path().filename().string().rfind("ombry-", 0) == 0 && e.path().extension() == ".log")
            out += readFile(e.path());
    return out;
}

}  // namespace ombry::test
