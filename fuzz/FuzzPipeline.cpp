#include "fuzz/FuzzPipeline.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/BatchRun.h"
#include "app/SettingsApplier.h"
#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane::fuzz {

namespace {

// Every option ticked, with values inside their ranges.
BatchSettings AllOptions() {
    BatchSettings s;
#define MORVANE_TICK(name) s.name = true;
    MORVANE_BATCH_FLAGS(MORVANE_TICK)
#undef MORVANE_TICK
    s.ED01 = u"上段メモ";
    s.ED02 = u"下段";
    s.CX01 = 5;
    s.CX02 = 1;
    s.ED30 = u"2.5";
    for (int pen = 1; pen <= 8; ++pen) {
        s.ScreenWidth(pen) = IntToDecStr(pen);
        s.PrinterWidth(pen) = IntToDecStr(pen * 10);
    }
    for (int n = 1; n <= 19; ++n) {
        s.Component('R', n) = IntToDecStr(n * 13);
        s.Component('G', n) = u"0";
        s.Component('B', n) = u"255";
    }
    return s;
}

bool Reload(const std::u16string& path, const std::u16string& images, std::string& why) {
    TJwwData again;
    again.BindImageFolder = images;
    again.BindImageExp = again.BindImageExr = true;
    bool ok = again.FileIn(path);
    if (!ok) why = again.LastFailure().Describe();
    JwwDataFree(again);
    return ok;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The batch run's conversion with the save on a second thread from the first
// object on, handed over in small steps so that the two threads interleave
// as much as they can, and with the file read through mapped windows of a
// page each instead of the buffer: it must load and save exactly when the
// conversion above did, and write the same bytes as its save as 700.
void StreamedConversion(const std::string& input, const std::string& workFolder, PipelineResult& result) {
    std::filesystem::create_directories(workFolder + "streamed");
    TJwwData doc;
    doc.BindImageFolder = Utf8ToStr(workFolder + "streamed/");
    doc.BindImageExp = doc.BindImageExr = true;
    doc.SetStreamTuningForTest({0, 3, 2});
    BatchSettings s = AllOptions();
    const std::string out = workFolder + "streamed.jww";
    TJwwData::PipeResult r;
    {
        const ByteReader::MappingForTest pages(0, 1);
        r = doc.FileInSaveNew(Utf8ToStr(input), Utf8ToStr(out), 700, false, [&] { RunProc2(s, doc); },
                              [&] { doc.BindImageExplode(); }, nullptr);
    }
    const TJwwData::PipeResult expected =
        !result.loaded ? TJwwData::PipeResult::LoadFailed : TJwwData::PipeResult::Ok;
    if (r != expected) {
        result.streamedSame = false;
        result.failure = "with the save beside the load: result " + std::to_string(static_cast<int>(r)) +
                         " instead of " + std::to_string(static_cast<int>(expected)) + ": " +
                         doc.LastFailure().Describe();
    } else if (r == TJwwData::PipeResult::Ok && ReadAll(out) != ReadAll(workFolder + "out700.jww")) {
        result.streamedSame = false;
        result.failure = "with the save beside the load: other bytes than the save as 700";
    }
    JwwDataFree(doc);
}

}  // namespace

PipelineResult RunPipeline(const uint8_t* data, size_t size, const std::string& workFolder) {
    PipelineResult result;
    const std::string input = workFolder + "input.jww";
    {
        std::ofstream f(input, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const std::u16string images = Utf8ToStr(workFolder + "images/");
    const std::u16string reloadImages = Utf8ToStr(workFolder + "reload/");
    std::filesystem::create_directories(workFolder + "images");
    std::filesystem::create_directories(workFolder + "reload");

    TJwwData doc;
    doc.BindImageFolder = images;
    doc.BindImageExp = doc.BindImageExr = true;
    result.loaded = doc.FileIn(Utf8ToStr(input));
    if (result.loaded) {
        doc.BindImageExplode();
        BatchSettings s = AllOptions();
        RunProc2(s, doc);
        for (int32_t version : {700, 300}) {
            doc.SetFileOutOption(doc.MojiEncode ? kOptUnicode : 0);
            const std::u16string out = Utf8ToStr(workFolder + "out" + std::to_string(version) + ".jww");
            if (!doc.FileOut(out, version)) {
                result.saved = false;
                result.failure = "save as " + std::to_string(version) + ": " + doc.LastFailure().Describe();
                break;
            }
            std::string why;
            if (!Reload(out, reloadImages, why)) {
                result.reloaded = false;
                result.failure = "reload of version " + std::to_string(version) + ": " + why;
                break;
            }
        }
    }
    JwwDataFree(doc);
    if (result.saved) StreamedConversion(input, workFolder, result);
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(workFolder, ec))
        std::filesystem::remove_all(entry.path(), ec);
    return result;
}

}  // namespace morvane::fuzz
