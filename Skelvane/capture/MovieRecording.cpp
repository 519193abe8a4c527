#include "Skelvane/capture/MovieRecording.h"

#include <optional>

#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/Sys.h"

namespace {
constexpr uint64_t kBytesPerMegabyte = 1048576;
}

bool CMovieRecording::HasWriter() {
    std::lock_guard<std::mutex> guard(lock);
    return movieWriter != nullptr;
}

void CMovieRecording::OpenWriter(const std::string& path) {
    auto writer = std::make_unique<CMovieFileWriter>(path);
    std::lock_guard<std::mutex> guard(lock);
    std::swap(movieWriter, writer);
    // A writer left over is closed as `writer` goes, after the lock.
}

std::string CMovieRecording::CloseWriter() {
    std::unique_ptr<CMovieFileWriter> writer;
    {
        std::lock_guard<std::mutex> guard(lock);
        writer = std::move(movieWriter);
    }
    if (!writer) return {};
    // Out of the streaming thread's reach now: closing (and a box about the rate) holds up
    // no frame.
    writer->Close();
    return writer->FileCreated() ? writer->FileName() : "";
}

void CMovieRecording::RecordingStep(ICaptureOwner& owner, const FrameBuffer& frame) {
    std::optional<std::string> failure;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!movieWriter) return;
        // A frame shorter than its rows would be read past its end.
        if (!FrameIsComplete(frame)) return;
        const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
        const uint64_t limit =
            uint64_t{static_cast<uint32_t>(current.moviesizemax)} * kBytesPerMegabyte;
        if (movieWriter->AccumulatedSize() >= limit) {
            owner.PostEvent(UM_STOP_RECORDING);
            return;
        }
        const bool wasWorking = movieWriter->GetState() != CMovieFileWriter::kFailed;
        if (SUCCEEDED(movieWriter->RecordFrame(frame.width, frame.height, frame.data))) return;
        if (wasWorking) failure = movieWriter->ErrorText();
    }
    // Shown after the lock is let go: the box must never hold up the window's stop.
    if (failure) sys::WarningBox(*failure);
    owner.PostEvent(UM_STOP_RECORDING);
}
