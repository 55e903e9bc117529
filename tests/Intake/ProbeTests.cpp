// Validation, metadata, codec and thumbnails of real generated files.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <sys/stat.h>

#include <variant>

#include "Engine/Intake/MediaProbe.hpp"
#include "Engine/Intake/ThumbnailCache.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "MediaFixtures.hpp"
#include "Platform/Media/StillDecoder.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;
namespace probe = ombry::media::probe;

namespace {

fs::path fixture(const std::string& name, const std::string& args) {
    auto p = test::mediaFixture(name, args);
    EXPECT_FALSE(p.empty()) << name;
    return p;
}

fs::path clip(const std::string& name, const std::string& size, const std::string& rate, double seconds,
              const std::string& extra = "") {
    return fixture(name, "-f lavfi -i testsrc2=s=" + size + ":r=" + rate + ":d=" + std::to_string(seconds) +
                             " -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + extra);
}

// The clip with a display matrix turning it by `degrees`, as a phone writes one: same samples, new track
// header, remuxed through libavformat.
fs::path rotated(int degrees) {
    const fs::path source = clip("landscape.mp4", "1920x1080", "10", 0.3);
    const fs::path out = source.parent_path() / ("turned" + std::to_string(degrees) + ".mp4");
    if (fs::exists(out)) return out;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, source.c_str(), nullptr, nullptr) < 0) return {};
    avformat_find_stream_info(in, nullptr);
    AVFormatContext* mux = nullptr;
    avformat_alloc_output_context2(&mux, nullptr, "mp4", out.c_str());
    AVStream* st = avformat_new_stream(mux, nullptr);
    avcodec_parameters_copy(st->codecpar, in->streams[0]->codecpar);
    st->codecpar->codec_tag = 0;
    st->time_base = in->streams[0]->time_base;
    auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
    av_display_rotation_set(matrix, degrees);
    avio_open(&mux->pb, out.c_str(), AVIO_FLAG_WRITE);
    EXPECT_GE(avformat_write_header(mux, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(in, pkt) >= 0) {
        av_packet_rescale_ts(pkt, in->streams[0]->time_base, st->time_base);
        pkt->stream_index = 0;
        av_interleaved_write_frame(mux, pkt);
    }
    av_write_trailer(mux);
    av_packet_free(&pkt);
    avio_closep(&mux->pb);
    avformat_free_context(mux);
    avformat_close_input(&in);
    return out;
}

fs::path tone(const std::string& name, const std::string& codec) {
    return fixture(name, "-f lavfi -i sine=f=440:r=48000:d=0.5 -ac 2 " + codec);
}

fs::path cover() { return fixture("cover.png", "-f lavfi -i testsrc2=s=1000x800 -frames:v 1"); }

fs::path audioWithArt() {
    return fixture("art.mp3", "-f lavfi -i sine=d=0.5 -i '" + cover().string() +
                                  "' -map 0 -map 1 -c:a libmp3lame -c:v png -disposition:v attached_pic -id3v2_version 3");
}

std::pair<int, int> jpegSize(const fs::path& file) {
    const auto r = media::decodeStill(file.string());
    const auto* img = std::get_if<StillImage>(&r);
    return img ? std::pair{img->width, img->height} : std::pair{0, 0};
}

TEST(Validation, MagicRowsLookAtTheFirstBytesOnly) {
    const fs::path dir = test::tempDir("magic");
    struct Case {
        std::string name, bytes;
        MediaKind kind;
        bool valid;
    };
    const std::string ebml("\x1A\x45\xDF\xA3", 4);
    const Case cases[] = {
        {"a.webm", ebml + "junk that no demuxer reads", MediaKind::video, true},
        {"a.mkv", ebml, MediaKind::audio, true},
        {"b.webm", "RIFF....WEBPVP8 ", MediaKind::video, false},
        {"short.mkv", std::string("\x1A\x45\xDF", 3), MediaKind::video, false},
        {"empty.webm", "", MediaKind::video, false},
        {"a.oga", "OggS\0\x02", MediaKind::audio, true},
        {"a.ogv", "OggS", MediaKind::video, true},
        {"a.ogg", "ID3\x03 not ogg", MediaKind::audio, false},
        {"e.ogg", "", MediaKind::audio, false},
    };
    for (const auto& c : cases) {
        test::writeFile(dir / c.name, c.bytes);
        EXPECT_EQ(MediaProbe::validates(dir / c.name, c.kind), c.valid) << c.name;
    }
    // A playable movie under a Matroska name that does not start with the magic is refused.
    const fs::path mp4 = clip("short.mp4", "64x48", "30", 0.5);
    fs::copy_file(mp4, dir / "renamed.webm");
    EXPECT_FALSE(MediaProbe::validates(dir / "renamed.webm", MediaKind::video));
    EXPECT_TRUE(probe::hasMagic(dir / "a.webm", {"nope", ebml}));
    EXPECT_FALSE(probe::hasMagic(dir / "missing.webm", {ebml}));
}

TEST(Validation, ByDecodabilityForTheKind) {
    const fs::path dir = test::tempDir("valid");
    const fs::path video = clip("v.mp4", "64x48", "30", 0.5);
    const fs::path audioOnly = tone("a.m4a", "-c:a aac");
    fs::copy_file(audioOnly, dir / "audio-only.mp4");
    test::writeFile(dir / "text.mp4", "this is not a movie at all, only words");
    test::writeFile(dir / "text.png", "not a picture");
    test::writeFile(dir / "good.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10"><rect width="20" height="10"/></svg>)");
    test::writeFile(dir / "bad.svg", "<svg oops");
    const fs::path png = fixture("small.png", "-f lavfi -i color=c=red:s=16x8 -frames:v 1");
    struct Case {
        fs::path file;
        MediaKind kind;
        bool valid;
    };
    const Case cases[] = {
        {video, MediaKind::video, true},          {video, MediaKind::audio, false},
        {dir / "audio-only.mp4", MediaKind::video, false}, {dir / "audio-only.mp4", MediaKind::audio, true},
        {dir / "text.mp4", MediaKind::video, false},       {dir / "text.png", MediaKind::image, false},
        {png, MediaKind::image, true},            {dir / "good.svg", MediaKind::image, true},
        {dir / "bad.svg", MediaKind::image, false},        {dir / "missing.mov", MediaKind::video, false},
    };
    for (const auto& c : cases) EXPECT_EQ(MediaProbe::validates(c.file, c.kind), c.valid) << c.file << " " << rawValue(c.kind);
    // The sender's extension decides the row, whatever the temporary file is called.
    const std::string ebml("\x1A\x45\xDF\xA3", 4);
    test::writeFile(dir / "upload.tmp", ebml);
    EXPECT_TRUE(MediaProbe::validates(dir / "upload.tmp", MediaKind::video, "webm"));
}

TEST(OddFiles, APipeOrAnEmptyFileUnderAMediaNameAnswersAtOnce) {
    const fs::path dir = test::tempDir("odd");
    for (const char* name : {"pipe.jpg", "pipe.webm", "pipe.mp4"}) ASSERT_EQ(::mkfifo((dir / name).c_str(), 0644), 0);
    test::writeFile(dir / "empty.mp4", "");
    test::writeFile(dir / "empty.png", "");
    for (const char* name : {"pipe.jpg", "pipe.webm", "pipe.mp4", "empty.mp4", "empty.png"}) {
        const fs::path f = dir / name;
        const MediaKind kind = *Library::kind(f);
        EXPECT_FALSE(MediaProbe::validates(f, kind)) << name;
        EXPECT_EQ(MediaProbe::metadata(f, kind), media::ProbedMeta{}) << name;
        EXPECT_FALSE(MediaProbe::thumbnail(f, kind, "odd")) << name;
    }
}

TEST(Metadata, QuarterTurnExchangesTheSidesAndAHalfTurnDoesNot) {
    const auto quarter = probe::avMetadata(rotated(90));
    EXPECT_EQ(quarter.width, 1080);
    EXPECT_EQ(quarter.height, 1920);
    const auto other = probe::avMetadata(rotated(-90));
    EXPECT_EQ(other.width, 1080);
    EXPECT_EQ(other.height, 1920);
    const auto half = probe::avMetadata(rotated(180));
    EXPECT_EQ(half.width, 1920);
    EXPECT_EQ(half.height, 1080);
}

TEST(Metadata, FrameRateIsTheRoundedAverageRate) {
    struct Case {
        std::string rate;
        double seconds;
        std::optional<double> fps;
    };
    // A slide show of one picture every four seconds has no whole frame rate: none, not "0p".
    for (const Case& c : {Case{"24000/1001", 1, 24}, Case{"30000/1001", 1, 30}, Case{"25", 1, 25},
                          Case{"1/4", 12, std::nullopt}}) {
        const auto meta = probe::avMetadata(
            clip("rate" + std::to_string(int(c.fps.value_or(0))) + ".mp4", "64x48", c.rate, c.seconds));
        EXPECT_EQ(meta.fps, c.fps) << c.rate;
        ASSERT_TRUE(meta.duration);
        EXPECT_NEAR(*meta.duration, c.seconds, 0.1 * c.seconds);
        EXPECT_EQ(meta.width, 64);
        EXPECT_FALSE(meta.sampleRate);
    }
}

TEST(Metadata, OggTheoraWithoutAnAverageRateHasItsBaseRate) {
    // Ogg gives Theora no average rate (0/0).
    const auto meta = probe::avMetadata(
        fixture("theora.ogv", "-f lavfi -i testsrc2=s=64x48:r=25:d=1 -c:v libtheora"));
    EXPECT_EQ(meta.fps, 25);
    EXPECT_EQ(meta.width, 64);
}

TEST(Metadata, BitDepthOnlyForUncompressedSound) {
    const auto pcm24 = probe::avMetadata(tone("t24.wav", "-c:a pcm_s24le"));
    EXPECT_EQ(pcm24.bitDepth, 24);
    EXPECT_EQ(pcm24.sampleRate, 48000);
    EXPECT_EQ(pcm24.channels, 2);
    EXPECT_FALSE(pcm24.width);
    EXPECT_FALSE(pcm24.fps);
    EXPECT_EQ(probe::avMetadata(tone("t16.wav", "-c:a pcm_s16le")).bitDepth, 16);
    for (const auto& compressed : {tone("t.m4a", "-c:a aac"), tone("t24.flac", "-c:a flac -sample_fmt s32"), tone("t.mp3", "-c:a libmp3lame")}) {
        const auto meta = probe::avMetadata(compressed);
        EXPECT_FALSE(meta.bitDepth) << compressed;
        EXPECT_EQ(meta.sampleRate, 48000) << compressed;
        EXPECT_EQ(meta.channels, 2) << compressed;
    }
    EXPECT_EQ(probe::avMetadata("/nonexistent.wav"), media::ProbedMeta{});
}

TEST(Metadata, StillsHaveOnlyTheirStoredSize) {
    const auto jpeg = probe::imageMetadata(test::orientedJpeg(6, "32x16"));  // stored turned: 16 by 32
    EXPECT_EQ(jpeg.width, 16);
    EXPECT_EQ(jpeg.height, 32);
    EXPECT_FALSE(jpeg.fps);
    EXPECT_FALSE(jpeg.duration);
    EXPECT_FALSE(jpeg.sampleRate);
    const auto png = probe::imageMetadata(fixture("meta.png", "-f lavfi -i color=c=red:s=30x20 -frames:v 1"));
    EXPECT_EQ(png.width, 30);
    EXPECT_EQ(png.height, 20);
    EXPECT_EQ(probe::imageMetadata("/nonexistent.png"), media::ProbedMeta{});
}

TEST(Codec, FourCharacterCodeOfTheFirstVideoStream) {
    EXPECT_EQ(probe::videoCodec(clip("v.mp4", "64x48", "30", 0.5)), 0x61766331u);  // "avc1"
    EXPECT_EQ(probe::videoCodec(fixture("v.webm", "-f lavfi -i testsrc2=s=64x48:d=0.3 -c:v libvpx-vp9 -deadline realtime")),
              0x76703039u);  // "vp09"
    EXPECT_FALSE(probe::videoCodec(tone("t.m4a", "-c:a aac")));
    EXPECT_FALSE(probe::videoCodec("/nonexistent.mp4"));
}

class Thumbnails : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(Store::thumbnailDir()); }
    static fs::path thumb(const std::string& id) { return MediaProbe::thumbnailFile(id); }
};

TEST_F(Thumbnails, LongestSide640KeepingTheAspectAndStandingUpright) {
    ASSERT_TRUE(MediaProbe::thumbnail(clip("hd.mp4", "1920x1080", "10", 1.5), MediaKind::video, "v1"));
    EXPECT_EQ(jpegSize(thumb("v1")), (std::pair{640, 360}));
    ASSERT_TRUE(MediaProbe::thumbnail(rotated(90), MediaKind::video, "v2"));
    EXPECT_EQ(jpegSize(thumb("v2")), (std::pair{360, 640}));
    // Pixels that are not square: 1440 by 1080 HDV shown 16:9.
    ASSERT_TRUE(MediaProbe::thumbnail(clip("hdv.mp4", "1440x1080", "10", 1.5, "-vf setsar=4/3"), MediaKind::video, "v3"));
    EXPECT_EQ(jpegSize(thumb("v3")), (std::pair{640, 360}));
    ASSERT_TRUE(MediaProbe::thumbnail(cover(), MediaKind::image, "i1"));
    EXPECT_EQ(jpegSize(thumb("i1")), (std::pair{640, 512}));
    // Smaller pictures are not enlarged; an EXIF turn is applied.
    ASSERT_TRUE(MediaProbe::thumbnail(test::orientedJpeg(6, "32x16"), MediaKind::image, "i2"));
    EXPECT_EQ(jpegSize(thumb("i2")), (std::pair{32, 16}));
    const fs::path svg = test::tempDir("svg") / "wide.svg";
    test::writeFile(svg, R"(<svg xmlns="http://www.w3.org/2000/svg" width="2000" height="500"><rect width="2000" height="500" fill="red"/></svg>)");
    ASSERT_TRUE(MediaProbe::thumbnail(svg, MediaKind::image, "s1"));
    EXPECT_EQ(jpegSize(thumb("s1")), (std::pair{640, 160}));
    EXPECT_FALSE(fs::exists(thumb("s1").string() + ".tmp"));
}

TEST_F(Thumbnails, ShortClipFallsBackToTheFirstFrame) {
    // 0.5 s: no frame at 1 s; time zero gives one.
    ASSERT_TRUE(MediaProbe::thumbnail(clip("half.mp4", "64x48", "30", 0.5), MediaKind::video, "short"));
    EXPECT_EQ(jpegSize(thumb("short")), (std::pair{64, 48}));
}

TEST_F(Thumbnails, FrameAtOneSecondWhenThereIsOne) {
    // Frames numbered in luma at 30 fps: the picture at 1.0 s is frame 30, not the first.
    const fs::path counting = test::countingClip(2.0);
    const auto frame = probe::videoFrame(counting);
    ASSERT_TRUE(frame);
    const auto* px = &frame->pixels[size_t(frame->height / 2) * frame->stride + size_t(frame->width / 2) * 4];
    EXPECT_NEAR(px[0], 30 * 4 * 255 / 219.0 - 16 * 255 / 219.0, 12) << "luma of frame 30, as full-range RGB";
}

TEST_F(Thumbnails, AudioArtworkOrNothing) {
    ASSERT_TRUE(MediaProbe::thumbnail(audioWithArt(), MediaKind::audio, "a1"));
    EXPECT_EQ(jpegSize(thumb("a1")), (std::pair{640, 512}));
    // No artwork: false, and an older thumbnail stays as it was.
    test::writeFile(thumb("a2"), "older");
    EXPECT_FALSE(MediaProbe::thumbnail(tone("plain.mp3", "-c:a libmp3lame"), MediaKind::audio, "a2"));
    EXPECT_EQ(test::readFile(thumb("a2")), "older");
    EXPECT_FALSE(MediaProbe::thumbnail("/nonexistent.mp4", MediaKind::video, "gone"));
    EXPECT_FALSE(fs::exists(thumb("gone")));
}

TEST_F(Thumbnails, CacheKeysOnTheThumbnailTimeAndRemembersNoMiss) {
    ThumbnailCache cache(1 << 20);
    EXPECT_EQ(ThumbnailCache::key("id", 1700000000123.9), "id-1700000000123");
    ASSERT_TRUE(MediaProbe::thumbnail(cover(), MediaKind::image, "c1"));
    EXPECT_FALSE(cache.image("c1", std::nullopt)) << "no thumbnail time, no file read";
    EXPECT_FALSE(cache.image("c2", 5.0));
    ASSERT_TRUE(MediaProbe::thumbnail(cover(), MediaKind::image, "c2"));
    const auto loaded = cache.image("c2", 5.0);
    ASSERT_TRUE(loaded) << "a miss is looked for again";
    EXPECT_EQ(cache.image("c2", 5.9), loaded) << "the key keeps the whole milliseconds";
    EXPECT_EQ(loaded->width, 640);
    // The cap: 640 by 512 RGBA is about 1.3 MB, so a second picture pushes the first out.
    ASSERT_TRUE(cache.image("c1", 7.0));
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_LE(cache.bytes(), std::size_t(2) << 20);
}

}  // namespace

// A crafted header may ask for gigabytes while a file is probed; once the probe has looked at any file, one
// allocation over the cap is refused and the file is not media, while real media sizes still pass.
TEST(ProbeAllocationCap, OneAllocationOverTheCapIsRefusedOnceAFileWasProbed) {
    const fs::path wav = fixture("cap.wav", "-f lavfi -i sine=d=0.2 -c:a pcm_s16le");
    EXPECT_TRUE(MediaProbe::validates(wav, MediaKind::audio));
    void* large = av_malloc(std::size_t(600) << 20);
    EXPECT_EQ(large, nullptr);
    av_free(large);
    void* frame = av_malloc(std::size_t(7680) * 4320 * 8);  // 8K RGBA at 16 bits a channel
    EXPECT_NE(frame, nullptr);
    av_free(frame);
}
