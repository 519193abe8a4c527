#include "platform/imaging/tests/TestPictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <memory>

namespace testing_pictures {

namespace {

struct AvDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) avio_closep(&context->pb);
        avformat_free_context(context);
    }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
template <class T>
using AvPtr = std::unique_ptr<T, AvDeleter>;

bool WritePackets(AVFormatContext& file, AVCodecContext& encoder, AVStream& stream) {
    const AvPtr<AVPacket> packet(av_packet_alloc());
    while (packet && avcodec_receive_packet(&encoder, packet.get()) == 0) {
        av_packet_rescale_ts(packet.get(), encoder.time_base, stream.time_base);
        packet->stream_index = stream.index;
        if (av_interleaved_write_frame(&file, packet.get()) < 0) return false;
    }
    return packet != nullptr;
}

}  // namespace

imaging::BgrBitmap QuadrantPicture(int width, int height, const Quadrants& colours) {
    imaging::BgrBitmap picture{width, height,
                               std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Bgr colour = colours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
            uint8_t* pixel = &picture.pixels[(static_cast<size_t>(y) * width + x) * 3];
            pixel[0] = colour.blue;
            pixel[1] = colour.green;
            pixel[2] = colour.red;
        }
    }
    return picture;
}

Quadrants QuadrantCentres(const imaging::BgrBitmap& picture) {
    Quadrants centres;
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        const int x = picture.width * (quadrant % 2 == 0 ? 1 : 3) / 4;
        const int y = picture.height * (quadrant < 2 ? 1 : 3) / 4;
        const uint8_t* pixel = &picture.pixels[(static_cast<size_t>(y) * picture.width + x) * 3];
        centres[quadrant] = {pixel[0], pixel[1], pixel[2]};
    }
    return centres;
}

bool QuadrantsNear(const Quadrants& found, const Quadrants& expected, int tolerance) {
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        const Bgr a = found[quadrant];
        const Bgr b = expected[quadrant];
        if (std::abs(a.blue - b.blue) > tolerance || std::abs(a.green - b.green) > tolerance ||
            std::abs(a.red - b.red) > tolerance)
            return false;
    }
    return true;
}

bool WriteTestMovie(const std::string& path, const std::vector<imaging::BgrBitmap>& frames,
                    int width, int height) {
    AVFormatContext* allocated = nullptr;
    if (avformat_alloc_output_context2(&allocated, nullptr, "avi", path.c_str()) < 0) return false;
    const AvPtr<AVFormatContext> file(allocated);
    const AVCodec* mpeg4 = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream* stream = avformat_new_stream(file.get(), nullptr);
    const AvPtr<AVCodecContext> encoder(avcodec_alloc_context3(mpeg4));
    const AvPtr<AVFrame> picture(av_frame_alloc());
    const AvPtr<SwsContext> converter(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height,
                                                     AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                                     nullptr, nullptr));
    if (stream == nullptr || !encoder || !picture || !converter) return false;
    encoder->codec_tag = MKTAG('X', 'V', 'I', 'D');
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = {1, 12};
    encoder->gop_size = 1;
    encoder->max_b_frames = 0;
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * 3;
    stream->time_base = encoder->time_base;
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    if (avcodec_open2(encoder.get(), mpeg4, nullptr) < 0 ||
        avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0 ||
        av_frame_get_buffer(picture.get(), 0) < 0 ||
        avio_open(&file->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(file.get(), nullptr) < 0)
        return false;
    for (size_t index = 0; index < frames.size(); ++index) {
        const uint8_t* const source[4] = {frames[index].pixels.data(), nullptr, nullptr, nullptr};
        const int sourceStride[4] = {width * 3, 0, 0, 0};
        if (av_frame_make_writable(picture.get()) < 0) return false;
        sws_scale(converter.get(), source, sourceStride, 0, height, picture->data,
                  picture->linesize);
        picture->pts = static_cast<int64_t>(index);
        if (avcodec_send_frame(encoder.get(), picture.get()) < 0 ||
            !WritePackets(*file, *encoder, *stream))
            return false;
    }
    if (avcodec_send_frame(encoder.get(), nullptr) < 0 || !WritePackets(*file, *encoder, *stream))
        return false;
    return av_write_trailer(file.get()) == 0;
}

}  // namespace testing_pictures
