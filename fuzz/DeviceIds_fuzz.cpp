// GetDeviceIDs on arbitrary INF bytes: at most 10 entries, entry k numbered k,
// every text field terminated within it, every stream closed again.
#include <cstdio>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzFreshMachine();
    SimWriteFile("C:\\pkg\\MERVOUSB.inf", std::string(reinterpret_cast<const char*>(data), size));

    DeviceIdTable table;
    memset(&table, 0xA5, sizeof table);  // no terminator left over by chance
    int result = GetDeviceIDs("C:\\pkg\\MERVOUSB.inf", &table);

    FUZZ_CHECK(result == 0);  // the file is there and stays openable
    FUZZ_CHECK(table.count <= DEVICE_TABLE_SIZE);
    for (uint16_t k = 0; k < table.count; ++k) {
        const DeviceIdEntry& entry = table.entries[k];
        // Four characters each: a zero byte inside the line stops the id short
        // and the line is no device line.
        FUZZ_CHECK(strnlen(entry.vid, sizeof entry.vid) == 4);
        FUZZ_CHECK(strnlen(entry.pid, sizeof entry.pid) == 4);
        FUZZ_CHECK(strnlen(entry.description, sizeof entry.description) < sizeof entry.description);
        FUZZ_CHECK(entry.index == k);
        char number[8];
        snprintf(number, sizeof number, "%04u", static_cast<unsigned>(k));
        FUZZ_CHECK(memcmp(entry.indexText, number, 5) == 0);
    }
    FUZZ_CHECK(Sim().openStreams == 0);
    // Reading only: nothing written or deleted.
    FUZZ_CHECK(Sim().filesWritten.empty());
    FUZZ_CHECK(Sim().filesDeleted.empty());
    return 0;
}
