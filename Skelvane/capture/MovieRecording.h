// The recording that runs: the process-wide movie writer, its lock, and the step the
// preview callback takes for every frame while the window's recording flag is set.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/FrameBuffer.h"
#include "Skelvane/capture/MovieFileWriter.h"
#include "common/Singleton.h"

class CMovieRecording : public Tolm::Singleton<CMovieRecording> {
    friend class Tolm::Singleton<CMovieRecording>;

public:
    bool HasWriter();
    // A new writer for `path`; the window closes the one before first.
    void OpenWriter(const std::string& path);
    // Takes the writer away under the lock, then closes and deletes it; returns its file
    // when the file was made, else "" (also when there was no writer).
    std::string CloseWriter();
    // One preview frame: stops the recording at the size limit of the current settings
    // (UM_STOP_RECORDING, the frame is not written), else records the frame; a writer that
    // fails shows its error text once and asks for the stop on every frame that follows.
    void RecordingStep(ICaptureOwner& owner, const FrameBuffer& frame);

private:
    CMovieRecording() = default;

    // Held for a whole recording step and while the writer is taken away, so a writer is
    // never closed in the middle of a frame. The settings lock may be taken inside it.
    std::mutex lock;
    std::unique_ptr<CMovieFileWriter> movieWriter;
};
