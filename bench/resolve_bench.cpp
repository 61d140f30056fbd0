// Times a lookup as the panel makes it (FolderController::resolve: both listings on worker
// threads, the answer handed to the main thread's event loop) against the least any resolver
// has to do: the same two listings on the calling thread with raw getdents64 and a byte
// compare, stopping at the first match. Both run in one process over the same trees, their
// repetitions interleaved, so that the ratio of the two holds up on a busy machine where
// absolute times do not.
//
// Prints one line per case, "resolve_ratio_<case>: R" with R = resolve time / baseline time
// (medians of the process's CPU time per call, so that the workers' share counts, with what
// starting them and handing the answer over costs), and exits non-zero when a ratio misses its
// target.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include "model/folder_model.h"
#include "platform/bookmark.h"
#include "platform/desktop_opener.h"
#include "platform/qt_main_thread.h"
#include "platform/user_defaults.h"
#include "resolve/folder_controller.h"
#include "resolve/resolve_result.h"

namespace fs = std::filesystem;

namespace {

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// ---------------------------------------------------------------------------------------------
// The baseline: what a resolver that knows only ASCII digits and bytes would do.

// Same buffer size as glibc's readdir uses, so both sides make the same number of calls.
constexpr std::size_t listingBufferSize = 32768;

std::optional<fs::path> rawFindEntry(std::string_view prefix, const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    alignas(dirent64) char buffer[listingBufferSize];
    std::optional<fs::path> found;
    for (;;) {
        const long filled = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (filled <= 0)
            break;
        for (long offset = 0; offset < filled && !found;) {
            // getdents64 fills in records laid out as glibc's dirent64.
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            // The record holds the name, its NUL and padding: comparing up to its end is safe,
            // and a name shorter than the prefix fails at its NUL.
            const std::size_t room = entry->d_reclen - offsetof(dirent64, d_name);
            if (room >= prefix.size() && std::memcmp(name, prefix.data(), prefix.size()) == 0)
                found = folder / std::string_view(name, std::strlen(name));
        }
        if (found)
            break;
    }
    ::close(fd);
    return found;
}

ResolveResult baselineResolve(const FolderModel& model) {
    std::string key;
    for (const char c : model.folderNumber()) {
        if (c >= '0' && c <= '9')
            key.push_back(c);
    }
    if (key.empty())
        return resolve_result::none{"Please enter digits"};
    const std::optional<fs::path>& root = model.rootFolderURL();
    if (!root)
        return resolve_result::none{"Root folder not selected"};

    std::optional<fs::path> legacy;
    if (key.size() >= 3)
        legacy = rawFindEntry(key, *root / ("a-" + key.substr(0, key.size() - 2)));
    std::string jName = "J";
    jName.append(key.size() < 6 ? 6 - key.size() : 0, '0').append(key);
    std::optional<fs::path> j = rawFindEntry(jName, *root / ("a-" + jName.substr(0, 5)));

    if (legacy && j)
        return resolve_result::conflict{std::move(*legacy), std::move(*j), key};
    if (legacy)
        return resolve_result::one{std::move(*legacy), DocketKind::legacy, key};
    if (j)
        return resolve_result::one{std::move(*j), DocketKind::j, key};
    return resolve_result::none{"Folder not found for " + key};
}

// ---------------------------------------------------------------------------------------------
// The trees.

// A private folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "zorvant-bench-XXXXXX").native();
        if (!::mkdtemp(pattern.data()))
            throw systemError("creating the temporary folder");
        m_path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

const char* const titles[] = {
    "Harbour Survey",   "Mill Lane Extension", "Annual Accounts 2019", "Riverside Flats",
    "Boundary Dispute", "Smith v Jones",       "Warehouse Lease",      "Planning Appeal",
};

std::string title(int n) {
    return titles[static_cast<std::size_t>(n) % std::size(titles)];
}

// The key 123NN as text.
std::string docketKey(int nn) {
    char key[8];
    std::snprintf(key, sizeof key, "123%02d", nn);
    return key;
}

void makeFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0755) != 0)
        throw systemError("creating " + folder.native());
}

// Empty files, created through one handle on the folder: the fastest way to 100,000 entries.
void makeFiles(const fs::path& folder, const std::vector<std::string>& names) {
    makeFolder(folder);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        throw systemError("opening " + folder.native());
    for (const std::string& name : names) {
        const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            ::close(dir);
            throw systemError("creating " + (folder / name).native());
        }
        ::close(fd);
    }
    ::close(dir);
}

// The folder's names in listing order, as the file system gives them.
std::vector<std::string> listing(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        throw systemError("listing " + folder.native());
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

// One bucket of J dockets J0123NN, every NN but the one given.
std::vector<std::string> jDocketsWithout(int missing) {
    std::vector<std::string> names;
    for (int nn = 0; nn < 100; ++nn) {
        if (nn != missing)
            names.push_back("J0" + docketKey(nn) + " " + title(nn));
    }
    return names;
}

struct Case {
    std::string name;
    double target;
    benchmark::TimeUnit unit;
    std::shared_ptr<FolderModel> model;
    std::shared_ptr<FolderController> controller;
    ResolveResult expected;
};

// Answers come to the application object, through its event loop, as in the program.
std::shared_ptr<MainThread> mainThread() {
    return std::make_shared<QtMainThread>(QCoreApplication::instance());
}

// One lookup of the typed number: the event loop runs until the answer is in.
ResolveResult lookUp(const FolderController& controller) {
    std::optional<ResolveResult> answer;
    QEventLoop loop;
    controller.resolve([] { return true; },
                       [&](ResolveResult given) {
                           answer = std::move(given);
                           loop.quit();
                       });
    loop.exec();
    return std::move(*answer);
}

class CountingOpener : public DesktopOpener {
public:
    void open(const fs::path&, bool) override { ++opened; }
    int opened = 0;
};

std::shared_ptr<FolderModel> modelFor(const fs::path& root, const fs::path& settings,
                                      const std::string& folderNumber) {
    FolderModelServices services;
    services.defaults = std::make_shared<UserDefaults>(settings);
    auto model = std::make_shared<FolderModel>(std::move(services));
    const Expected<Blob> bookmark = makeBookmark(root);
    if (!bookmark)
        throw std::runtime_error("bookmarking " + root.native() + ": " +
                                 bookmark.failure().description);
    model->setRootFolderBookmark(bookmark.value());
    if (model->rootFolderURL() != root)
        throw std::runtime_error("the model did not take the root folder " + root.native());
    model->setFolderNumber(folderNumber);
    return model;
}

// (a) Buckets of 100 dockets each. The Legacy bucket holds the docket, which the listing
// reaches half way through; the J bucket does not, so it is read to its end.
Case typicalCase(const fs::path& temp, const std::shared_ptr<DesktopOpener>& opener) {
    const fs::path root = temp / "typical";
    makeFolder(root);
    makeFolder(root / "a-123");
    for (int nn = 0; nn < 100; ++nn)
        makeFolder(root / "a-123" / (docketKey(nn) + " " + title(nn)));

    const std::vector<std::string> order = listing(root / "a-123");
    const std::size_t position = order.size() / 2;
    const std::string& match = order[position];
    const std::string key = match.substr(0, 5);
    const int nn = std::stoi(key.substr(3));
    std::vector<std::string> jNames = jDocketsWithout(nn);
    makeFolder(root / "a-J0123");
    for (const std::string& name : jNames)
        makeFolder(root / "a-J0123" / name);

    std::printf("typical: key %s; Legacy match \"%s\" is entry %zu of %zu in listing order; "
                "the J bucket has %zu entries and no match\n",
                key.c_str(), match.c_str(), position + 1, order.size(), jNames.size());

    auto model = modelFor(root, temp / "typical.ini", key);
    return {"typical",
            1.5,
            benchmark::kMicrosecond,
            model,
            std::make_shared<FolderController>(model, opener, openDirectory, mainThread()),
            resolve_result::one{root / "a-123" / match, DocketKind::legacy, key}};
}

// (b) A Legacy bucket of 100,000 entries, none of which is the docket, so the listing is read
// to its end; the J bucket as in the typical case, without the docket either.
Case largeCase(const fs::path& temp, const std::shared_ptr<DesktopOpener>& opener) {
    const fs::path root = temp / "large";
    makeFolder(root);

    constexpr std::size_t count = 100'000;
    const int skipped = 45;
    std::vector<std::string> names;
    names.reserve(count);
    for (int i = 0; names.size() < count; ++i) {
        const int nn = i % 100;
        if (nn == skipped)
            continue;
        char sequence[16];
        std::snprintf(sequence, sizeof sequence, "-%04d ", i / 100);
        names.push_back(docketKey(nn) + sequence + title(i));
    }
    const auto started = std::chrono::steady_clock::now();
    makeFiles(root / "a-123", names);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    makeFiles(root / "a-J0123", jDocketsWithout(skipped));

    const std::size_t listed = listing(root / "a-123").size();
    if (listed != count)
        throw std::runtime_error("the large bucket lists " + std::to_string(listed) +
                                 " entries instead of " + std::to_string(count));
    std::printf("100k: key 123%d; the Legacy bucket has %zu entries (created in %.1f s), the J "
                "bucket %zu; neither has a match\n",
                skipped, listed, seconds, jDocketsWithout(skipped).size());

    const std::string key = docketKey(skipped);
    auto model = modelFor(root, temp / "large.ini", key);
    return {"100k",
            1.3,
            benchmark::kMillisecond,
            model,
            std::make_shared<FolderController>(model, opener, openDirectory, mainThread()),
            resolve_result::none{"Folder not found for " + key}};
}

std::string describe(const ResolveResult& result) {
    if (const auto* none = std::get_if<resolve_result::none>(&result))
        return "none \"" + none->message + "\"";
    if (const auto* one = std::get_if<resolve_result::one>(&result))
        return "one " + one->url.native();
    const auto& conflict = std::get<resolve_result::conflict>(result);
    return "conflict " + conflict.legacy.native() + " | " + conflict.j.native();
}

// The baseline spells the naming rules out again for itself. Before anything is timed, both
// sides resolve every row of the naming table, and the cases around it, over one small tree;
// a rule changed on one side only shows here rather than as a quietly wrong comparison.
std::vector<std::string> disagreements(const fs::path& temp,
                                       const std::shared_ptr<DesktopOpener>& opener) {
    const fs::path root = temp / "rules";
    for (const fs::path& folder :
         {root, root / "a-J0000", root / "a-J0001", root / "a-1", root / "a-123", root / "a-J0123",
          root / "a-1234", root / "a-J1234", root / "a-12345", root / "a-5"}) {
        makeFolder(folder);
    }
    for (const fs::path& entry :
         {root / "a-J0000/J000007 Seven", root / "a-J0000/J000098 Ninety-eight",
          root / "a-1/123 Old", root / "a-J0001/J000123 New", root / "a-123/12345 Legacy",
          root / "a-1234/123456 Legacy", root / "a-J1234/J1234567 J", root / "a-12345/1234567 L",
          root / "a-5/555 Five"})
        makeFolder(entry);

    std::vector<std::string> found;
    const auto model = modelFor(root, temp / "rules.ini", "");
    const FolderController controller(model, opener, openDirectory, mainThread());
    for (const char* typed : {"7", "98", "123", "12345", "123456", "1234567", "\t12-345 ",
                              "No. 555", "9", "99999", "abc", ""}) {
        model->setFolderNumber(typed);
        const ResolveResult fromResolve = lookUp(controller);
        const ResolveResult fromBaseline = baselineResolve(*model);
        if (fromResolve == fromBaseline)
            continue;
        std::string disagreement = "\"";
        disagreement.append(typed).append("\": resolve gave ").append(describe(fromResolve));
        found.push_back(disagreement.append(", the baseline ").append(describe(fromBaseline)));
    }
    return found;
}

// ---------------------------------------------------------------------------------------------
// Measuring.

struct Times {
    std::vector<double> cpu;
    std::vector<double> real;
};

// Keeps every repetition's time per call and shows only the summaries on the console.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    CollectingReporter()
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                Times& times = m_times[run.run_name.function_name];
                times.cpu.push_back(run.GetAdjustedCPUTime());
                times.real.push_back(run.GetAdjustedRealTime());
            }
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1)
                shown.push_back(run);
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }

    const Times* times(const std::string& name) const {
        const auto found = m_times.find(name);
        return found == m_times.end() ? nullptr : &found->second;
    }

private:
    std::map<std::string, Times> m_times;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Repetitions are interleaved and plentiful by default, for a shared and noisy machine; any
// of these can be overridden on the command line.
const char* const defaultFlags[] = {
    "--benchmark_repetitions=15",
    "--benchmark_min_time=0.1",
    "--benchmark_enable_random_interleaving=true",
};

int run(int argc, char** argv) {
    std::vector<std::string> flagStorage(std::begin(defaultFlags), std::end(defaultFlags));
    std::vector<char*> args = {argv[0]};
    for (std::string& flag : flagStorage)
        args.push_back(flag.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int benchArgc = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&benchArgc, args.data());
    if (benchmark::ReportUnrecognizedArguments(benchArgc, args.data()))
        return 2;

    const TemporaryFolder temp;
    auto opener = std::make_shared<CountingOpener>();
    std::vector<Case> cases;
    cases.push_back(typicalCase(temp.path(), opener));
    cases.push_back(largeCase(temp.path(), opener));

    if (const auto found = disagreements(temp.path(), opener); !found.empty()) {
        for (const std::string& disagreement : found)
            std::fprintf(stderr, "zorvant_bench: the baseline disagrees on %s\n",
                         disagreement.c_str());
        return 2;
    }

    // Both sides must give the expected answer, or there is nothing to compare.
    for (const Case& c : cases) {
        const ResolveResult fromResolve = lookUp(*c.controller);
        const ResolveResult fromBaseline = baselineResolve(*c.model);
        if (fromResolve != c.expected || fromBaseline != c.expected) {
            std::fprintf(stderr,
                         "zorvant_bench: %s: expected %s, resolve gave %s, the baseline %s\n",
                         c.name.c_str(), describe(c.expected).c_str(),
                         describe(fromResolve).c_str(), describe(fromBaseline).c_str());
            return 2;
        }
    }

    // Each side of a case, charged the whole process's CPU time, as the ratios compare them.
    const auto measure = [](const Case& c, const char* side, auto lookUpOnce) {
        benchmark::RegisterBenchmark((c.name + "/" + side).c_str(),
                                     [&c, lookUpOnce](benchmark::State& state) {
                                         for (auto _ : state) {
                                             ResolveResult result = lookUpOnce(c);
                                             benchmark::DoNotOptimize(result);
                                         }
                                     })
            ->Unit(c.unit)
            ->MeasureProcessCPUTime();
    };
    for (const Case& c : cases) {
        measure(c, "baseline", [](const Case& one) { return baselineResolve(*one.model); });
        measure(c, "resolve", [](const Case& one) { return lookUp(*one.controller); });
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (opener->opened != 0) {
        std::fprintf(stderr, "zorvant_bench: resolve asked the desktop to open a location\n");
        return 2;
    }

    struct Ratio {
        std::string name;
        double value;
        double target;
    };
    std::vector<Ratio> ratios;
    bool complete = true;
    for (const Case& c : cases) {
        const Times* baseline = reporter.times(c.name + "/baseline");
        const Times* resolve = reporter.times(c.name + "/resolve");
        if (!baseline || !resolve) {
            std::fprintf(stderr, "zorvant_bench: %s was not measured\n", c.name.c_str());
            complete = false;
            continue;
        }
        const double cpu = median(resolve->cpu) / median(baseline->cpu);
        const double real = median(resolve->real) / median(baseline->real);
        const auto [lowest, highest] =
            std::minmax_element(resolve->cpu.begin(), resolve->cpu.end());
        const auto [lowestBase, highestBase] =
            std::minmax_element(baseline->cpu.begin(), baseline->cpu.end());
        std::printf("%s: median CPU time per call: resolve %.4g (%.4g to %.4g), baseline %.4g "
                    "(%.4g to %.4g) %s over %zu repetitions; wall-clock ratio %.3f; target "
                    "%.2f\n",
                    c.name.c_str(), median(resolve->cpu), *lowest, *highest, median(baseline->cpu),
                    *lowestBase, *highestBase, benchmark::GetTimeUnitString(c.unit),
                    resolve->cpu.size(), real, c.target);
        ratios.push_back({c.name, cpu, c.target});
    }

    bool met = complete;
    for (const Ratio& ratio : ratios) {
        std::printf("resolve_ratio_%s: %.3f\n", ratio.name.c_str(), ratio.value);
        met = met && ratio.value <= ratio.target;
    }
    std::fflush(stdout);
    return met ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // The defaults store is QSettings, which wants an application object as in the program.
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    QCoreApplication app(appArgc, appArgv);
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zorvant_bench: %s\n", error.what());
        return 2;
    }
}
