// Still pictures: a frame written as a JPEG of quality 100 at the capture size of the
// current settings record, and the single shot that names, writes and announces one.
#pragma once

#include <optional>
#include <string>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/FrameBuffer.h"
#include "platform/imaging/Imaging.h"

// The imaging layer's encoder whose MIME type is "image/jpeg", or nothing.
std::optional<imaging::ImageCodecInfo> GetJpegEncoder();

// `picture` drawn into a width x height picture with bicubic interpolation, or nothing.
std::optional<imaging::BgrBitmap> ScaleBitmap(const imaging::BgrImageView& picture, int width,
                                              int height);

// "Name: description" for an imaging status 0..20. Win32Error (7) gives the system's text
// for `systemError` instead; any other status gives the "Invalid status" text.
std::string GdiplusStatusText(int status, int systemError);

// The name of the camera being previewed, written into photos; any thread.
void SetPhotoCameraName(const std::string& name);

// Writes `frame` to `path` as a JPEG of quality 100 with Exif (time taken, camera name,
// program and version, orientation 1, a thumbnail), enlarged or reduced with bicubic
// interpolation when the frame is not of the current capture size. False when nothing was
// written; a failed write shows the "ui_alert_savefile" box with the path and status text.
bool SaveFrameAsJpeg(const FrameBuffer& frame, const std::string& path);

// Names the next single shot, writes it and hands the path to owner.RevealFile. Single
// shots of all streams take turns, so each gets its own file. True when a file was written.
bool TakeSingleShot(const FrameBuffer& frame, ICaptureOwner& owner);
