// Start-up of the real application: from starting the process until its main window is shown and both of
// its servers listen, with a project of 1000 clips, on a private X server (goal: under 1 s).
//
//     build/bench/bench_window_start --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "BenchApp.hpp"
#include "Engine/Library/ProjectDoc.hpp"
#include "Engine/Library/Store.hpp"
#include "XvfbServer.hpp"

namespace fs = std::filesystem;
using namespace ombry;

namespace {

// Listening TCP sockets of the process (both address families), by their inodes.
int listeningSockets(pid_t pid) {
    std::set<std::string> inodes;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", fs::directory_options::skip_permission_denied)) {
        std::error_code ec;
        const auto target = fs::read_symlink(e.path(), ec).string();
        if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
    int n = 0;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream in("/proc/" + std::to_string(pid) + table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string sl, local, remote, state, queues, timer, retr, uid, timeout, inode;
            f >> sl >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
            if (state == "0A" && inodes.count(inode)) ++n;  // LISTEN
        }
    }
    return n;
}

bool windowShown(xcb_connection_t* c, xcb_window_t root) {
    bool shown = false;
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree) return false;
    const xcb_window_t* kids = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !shown; ++i) {
        auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, kids[i]), nullptr);
        auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, kids[i]), nullptr);
        shown = a && g && a->map_state == XCB_MAP_STATE_VIEWABLE && g->width >= 1120;
        std::free(a);
        std::free(g);
    }
    std::free(tree);
    return shown;
}

void BM_StartToWindowAndServers(benchmark::State& state) {
    const fs::path dir = bench::makeFolder("ombry-bench-start-");
    test::XvfbServer xvfb;
    if (!xvfb.running()) return state.SkipWithError(xvfb.error().c_str());
    xcb_connection_t* c = xcb_connect(xvfb.display().c_str(), nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    const fs::path clip = dir / "still.png";
    std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=red:s=640x360 -frames:v 1 '" +
                 clip.string() + "'").c_str());
    bench::Project p = bench::projectOf(1000);
    ProjectDoc doc = ProjectDoc::make("Thousand");
    for (auto& m : p.media) m.path = clip.string();
    doc.media = p.media;
    doc.groups = p.groups;
    const fs::path file = dir / "Thousand.ombry";
    Store::saveDoc(doc, file);

    double window = 0, servers = 0;
    for (auto _ : state) {
        const fs::path home = dir / "home";
        fs::remove_all(home);
        for (const char* sub : {"data/Ombry", "config", "runtime"}) fs::create_directories(home / sub);
        fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(home / "data/Ombry/settings.json") << R"({"remoteControlEnabled": true, "remoteControlPort": 0})";
        std::vector<std::string> env{"DISPLAY=" + xvfb.display(), "XDG_DATA_HOME=" + (home / "data").string(),
                                     "XDG_CONFIG_HOME=" + (home / "config").string(),
                                     "XDG_RUNTIME_DIR=" + (home / "runtime").string(), "QT_QPA_PLATFORM=xcb",
                                     "HOME=" + home.string(), "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string exe = OMBRY_EXECUTABLE, arg = file.string();
        char* argv[] = {exe.data(), arg.data(), nullptr};
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        const auto t0 = std::chrono::steady_clock::now();
        pid_t pid = -1;
        posix_spawn(&pid, argv[0], &files, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&files);
        std::optional<double> windowAt, serversAt;
        auto since = [&] { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(); };
        while ((!windowAt || !serversAt) && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30)) {
            if (!windowAt && windowShown(c, root)) windowAt = since();
            if (!serversAt && listeningSockets(pid) >= 2) serversAt = since();
            if (!windowAt || !serversAt) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const bool ready = windowAt && serversAt;
        if (ready) {
            window += *windowAt;
            servers += *serversAt;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ::kill(pid, SIGTERM);
        int status;
        ::waitpid(pid, &status, 0);
        if (!ready) return state.SkipWithError("the window or the servers did not come up");
        state.SetIterationTime(seconds);
    }
    state.counters["window_shown_ms"] = benchmark::Counter(window, benchmark::Counter::kAvgIterations);
    state.counters["servers_listening_ms"] = benchmark::Counter(servers, benchmark::Counter::kAvgIterations);
    xcb_disconnect(c);
    fs::remove_all(dir);
}
BENCHMARK(BM_StartToWindowAndServers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
