// Benchmarks of the INF readers, each beside its floor: a bare line-read loop
// (fgets into a 500-byte buffer) over the same lines of the same file, through
// the same kind of stream, as many times as the reader opens the file.
//
// Two kinds of stream: "sim", the simulated machine's text stream
// (Platform.OpenStream after SimReset, the one the host tests use), and "crt",
// the C library's own buffered fopen on an LF copy of the file, closest to
// the Windows C runtime's buffered text stream.
//
// Each benchmark reports bytes/s over the bytes the reader reads; the ratio
// of a reader to its floor is worked out from the JSON output by
// bench/perf_report.py. Run under callgrind with MERVO_BENCH_COUNT set, the
// program instead counts the instructions of one reading of each.
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchInf.h"
#include "inf/INFManager.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

struct Case {
    std::string label;  // e.g. "1MB/10dev"
    BenchInf inf;
    std::string simPath;  // Windows path on the simulated machine
    std::string crtPath;  // host path of the LF copy
    size_t deviceTableBytes = 0;
    size_t sourceDisksFilesBytes = 0;
};

std::vector<Case> cases;
FILE* (*simOpenStream)(const char*, const char*) = nullptr;

FILE* CrtOpenStream(const char* path, const char* mode)
{
    return fopen(path, mode);
}

// Selects the stream kind and gives the path to open.
const char* UseStream(const Case& c, bool crt)
{
    Platform.OpenStream = crt ? CrtOpenStream : simOpenStream;
    return crt ? c.crtPath.c_str() : c.simPath.c_str();
}

// One floor reading: open, read `lines` lines (or to the end), close.
void ReadLines(const char* path, size_t lines)
{
    FILE* inf = Platform.OpenStream(path, "r");
    if (inf == nullptr) {
        abort();
    }
    char line[INF_LINE_SIZE];
    for (size_t n = 0; n < lines && fgets(line, sizeof line, inf) != nullptr; n++) {
        benchmark::DoNotOptimize(line);
    }
    fclose(inf);
}

// One reading of each kind; a reader returns false when its result is wrong.
bool DeviceTableOnce(const Case& c, const char* path)
{
    DeviceIdTable table;
    int result = GetDeviceIDs(path, &table);
    benchmark::DoNotOptimize(table);
    return result == 0 && table.count == c.inf.devices;
}

bool DeviceTableFloorOnce(const Case& c, const char* path)
{
    for (size_t lines : c.inf.deviceTableReads) {
        ReadLines(path, lines);
    }
    return true;
}

bool SourceDisksFilesOnce(const Case& c, const char* path)
{
    FILE* inf = Platform.OpenStream(path, "r");
    if (inf == nullptr) {
        return false;
    }
    char line[INF_LINE_SIZE];
    size_t names = 0;
    if (FindSourceDisksFiles(inf, line)) {
        while (NextSourceDisksFile(inf, line)) {
            names++;
            benchmark::DoNotOptimize(line);
        }
    }
    fclose(inf);
    return names == c.inf.sourceDisksFilesEntries;
}

bool SourceDisksFilesFloorOnce(const Case& c, const char* path)
{
    ReadLines(path, c.inf.sourceDisksFilesLines);
    return true;
}

struct Reader {
    const char* name;
    bool (*once)(const Case&, const char*);
    size_t Case::*bytes;  // what one reading reads
};

const Reader kReaders[] = {
    {"GetDeviceIDs", DeviceTableOnce, &Case::deviceTableBytes},
    {"GetDeviceIDs_floor", DeviceTableFloorOnce, &Case::deviceTableBytes},
    {"SourceDisksFiles", SourceDisksFilesOnce, &Case::sourceDisksFilesBytes},
    {"SourceDisksFiles_floor", SourceDisksFilesFloorOnce, &Case::sourceDisksFilesBytes},
};

void Measure(benchmark::State& state, const Reader* reader, const Case* c, bool crt)
{
    const char* path = UseStream(*c, crt);
    for (auto _ : state) {
        if (!reader->once(*c, path)) {
            state.SkipWithError("wrong result");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (c->*reader->bytes)));
}

// Under callgrind (MERVO_BENCH_COUNT set): each reading once, its instruction
// count dumped under the benchmark's name. Timing on a shared machine is
// noisy; instruction counts are not.
void CountInstructions(const std::string& name, const Reader& reader, const Case& c, bool crt)
{
    const char* path = UseStream(c, crt);
    reader.once(c, path);  // warms the file cache and the stream code
    CALLGRIND_ZERO_STATS;
    bool right = reader.once(c, path);
    CALLGRIND_DUMP_STATS_AT(name.c_str());
    if (!right) {
        fprintf(stderr, "%s: wrong result\n", name.c_str());
        exit(1);
    }
}

void WriteHostFile(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || fclose(file) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
}

std::string WithoutCr(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (ch != '\r') {
            out += ch;
        }
    }
    return out;
}

// MERVO_BENCH_SIZES, e.g. "10KB,1MB", limits the sizes; unset: all of them.
bool SizeWanted(const char* name)
{
    const char* only = getenv("MERVO_BENCH_SIZES");
    if (only == nullptr) {
        return true;
    }
    std::string list = std::string(",") + only + ",";
    return list.find(std::string(",") + name + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);

    // The INFs live in a fresh temporary folder, which is C: of the
    // simulated machine; it is removed at the end.
    char folder[] = "/tmp/mervo-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    SimReset(folder);
    simOpenStream = Platform.OpenStream;

    const struct {
        const char* name;
        size_t bytes;
    } sizes[] = {{"10KB", 10 * 1024}, {"1MB", 1024 * 1024}, {"16MB", 16 * 1024 * 1024}};
    const int deviceCounts[] = {1, 10};
    for (const auto& size : sizes) {
        if (!SizeWanted(size.name)) {
            continue;
        }
        for (int devices : deviceCounts) {
            Case c;
            c.label = std::string(size.name) + "/" + std::to_string(devices) + "dev";
            c.inf = MakeBenchInf(size.bytes, devices);
            std::string name = std::string("bench_") + size.name + "_" + std::to_string(devices);
            c.simPath = "C:\\" + name + ".inf";
            SimWriteFile(c.simPath, c.inf.bytes);
            c.crtPath = std::string(folder) + "/" + name + "_lf.inf";
            WriteHostFile(c.crtPath, WithoutCr(c.inf.bytes));
            for (size_t lines : c.inf.deviceTableReads) {
                c.deviceTableBytes += TextModeBytes(c.inf.bytes, lines);
            }
            c.sourceDisksFilesBytes = TextModeBytes(c.inf.bytes, c.inf.sourceDisksFilesLines);
            cases.push_back(c);
        }
    }

    bool count = getenv("MERVO_BENCH_COUNT") != nullptr;
    for (const Case& c : cases) {
        for (bool crt : {false, true}) {
            for (const Reader& reader : kReaders) {
                std::string name = std::string(reader.name) + "/" + c.label + (crt ? "/crt" : "/sim");
                if (count) {
                    CountInstructions(name, reader, c, crt);
                    continue;
                }
                benchmark::RegisterBenchmark(name.c_str(), Measure, &reader, &c, crt)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::error_code error;
    std::filesystem::remove_all(folder, error);
    return 0;
}
