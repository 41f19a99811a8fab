// Settings benchmark: what keeping the six settings costs, through the built
// control and the registered properties component under Wine. It prints the
// median and the largest time of: an object made and released (the settings
// file read at construction, written at destruction), the component's
// SaveSettings (a whole file written beside the old one and put in its place)
// and LoadSettings, the IPersistStream round trip, and reading the file's
// text alone. Run it from the build's bin folder under Wine, with the
// component registered:
//
//     wine settings_bench.exe [rounds]
#include "testing.h"
#include "pad_settings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

double microsecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

template <typename Step>
void measure(const char* name, int rounds, Step step)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        step();
        times.push_back(microsecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    printf("%-58s median %9.1f us   max %9.1f us\n", name, times[times.size() / 2], times.back());
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 200;
    if (rounds < 1)
        rounds = 1;
    ComApartment com;
    std::string file = settingsFileFor();
    std::string saved = readFile(file);

    measure("object made and released (file read, then written)", rounds, [] { control().create(); });

    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IPrelvane> component = propertiesComponentOf(pad.get());
    if (!component) {
        printf("the properties component is not registered\n");
        return 1;
    }
    measure("SaveSettings (six properties, replaced in one step)", rounds, [&] { component->SaveSettings(); });
    VARIANT_BOOL loaded = VARIANT_FALSE;
    measure("LoadSettings (six properties)", rounds, [&] { component->LoadSettings(&loaded); });

    ComPtr<IPersistStream> persist;
    pad->QueryInterface(IID_IPersistStream, persist.putVoid());
    measure("IPersistStream Save and Load through a memory stream", rounds, [&] {
        ComPtr<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
        persist->Save(stream.get(), TRUE);
        LARGE_INTEGER start = {};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        persist->Load(stream.get());
    });

    std::string text = settingsfile::format(settingsEntries(PadSettings()));
    std::vector<settingsfile::Entry> entries;
    measure("reading a six-property file's text (1000 times)", rounds, [&] {
        for (int i = 0; i < 1000; ++i)
            settingsfile::parse(text.data(), text.size(), entries);
    });
    printf("settings file: %zu bytes\n", text.size());

    pad.reset();
    component.reset();
    persist.reset();
    // Leave the file as it was found.
    if (saved.empty())
        DeleteFileA(file.c_str());
    else
        writeTextFile(file, saved);
    return 0;
}
