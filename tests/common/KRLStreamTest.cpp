// The buffered big-endian streams: buffer loads, sticky flags, MacBinary, progress, writing.
#include "common/KRLStream.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <numeric>

namespace {

std::vector<uint8_t> Counting(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// A stream that is not a memory stream, so reading goes through the 64 KB buffer.
class VectorStream : public TStream {
public:
    explicit VectorStream(std::vector<uint8_t> data) : data_(std::move(data)) {}
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t n = std::clamp<int64_t>(Size() - position_, 0, count);
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        return n;
    }
    int64_t Write(const void* buffer, int64_t count) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        data_.resize(std::max<size_t>(data_.size(), static_cast<size_t>(position_ + count)));
        std::copy(p, p + count, data_.begin() + position_);
        position_ += count;
        ++writes;
        return count;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        position_ = origin == soBeginning ? offset
                    : origin == soCurrent ? position_ + offset
                                          : Size() + offset;
        return position_;
    }
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    const std::vector<uint8_t>& Data() const { return data_; }
    int writes = 0;

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

TEST(KRLReadStream, BigEndianValuesStraddleBufferLoads) {
    const std::vector<uint8_t> data = Counting(65536 + 65536 + 10);
    const auto at = [&](size_t i) { return uint32_t{data[i]}; };
    VectorStream source(data);
    TKRLCustomReadStream r;
    r.BeginRead(source, 0);
    r.Skip(65534);
    EXPECT_EQ(r.ReadLongBE(), at(65534) << 24 | at(65535) << 16 | at(65536) << 8 | at(65537));
    // The load that took the straddling value ends at 65534 + 65536; the next is the last.
    r.Skip(131069 - 65538);
    EXPECT_EQ(r.ReadWordBE(), at(131069) << 8 | at(131070));
    EXPECT_EQ(r.ReadByte(), at(131071));
    std::vector<uint8_t> block(8);
    r.ReadBlock(block.data(), 8);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + 131072));
    EXPECT_FALSE(r.Failed);
    EXPECT_EQ(r.ReadLongBE(), 0u); // two bytes left
    EXPECT_TRUE(r.Failed);
}

TEST(KRLReadStream, LongBlocksArriveWholeFromEveryKindOfSource) {
    const std::vector<uint8_t> data = Counting(300000, 7);
    for (const bool memory : {false, true}) {
        VectorStream vector(data);
        TMemoryStream mem;
        mem.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
        mem.SetPosition(0);
        TStream& source = memory ? static_cast<TStream&>(mem) : vector;
        TKRLCustomReadStream r;
        r.BeginRead(source, 0);
        r.Skip(3);
        std::vector<uint8_t> block(200000);
        r.ReadBlock(block.data(), 200000);
        EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + 3)) << memory;
        EXPECT_EQ(r.ReadByte(), data[200003]) << memory;
        r.EndRead();
        EXPECT_EQ(source.Position(), 200004) << memory;
    }
}

TEST(KRLReadStream, ShortDataAndEmptyRequestsAreSticky) {
    VectorStream source(Counting(10));
    TKRLCustomReadStream r;
    r.BeginRead(source, 4);
    EXPECT_EQ(r.ReadLongBE(), 0x00010203u);
    EXPECT_EQ(r.ReadByte(), 0);
    EXPECT_TRUE(r.Failed);

    r.BeginRead(source, 0);
    EXPECT_FALSE(r.Failed);
    r.ReadBlock(nullptr, 0);
    EXPECT_TRUE(r.Stopped);
    EXPECT_EQ(r.ReadByte(), 0);
    r.BeginRead(source, 0);
    r.Skip(0);
    EXPECT_EQ(r.ReadWordBE(), 0);

    TMemoryStream empty;
    r.BeginRead(empty, 0);
    EXPECT_TRUE(r.Failed);
}

TEST(KRLReadStream, MemoryIsReadInPlaceButNeverPastItsEnd) {
    TMemoryStream mem;
    const std::vector<uint8_t> data = Counting(16);
    mem.WriteBuffer(data.data(), 16);
    mem.SetPosition(12);
    TKRLCustomReadStream r;
    r.BeginRead(mem, 1000);
    EXPECT_EQ(r.Available(), 4);
    EXPECT_EQ(r.ReadLongBE(), 0x0C0D0E0Fu);
    EXPECT_EQ(r.ReadByte(), 0);
    EXPECT_TRUE(r.Failed);
}

TEST(KRLReadStream, MacBinaryHeaderIsSkippedOnlyWhenItCanBeThere) {
    std::vector<uint8_t> mac(200, 1);
    mac[0] = 0;
    mac[74] = 0;
    mac[128] = 0x42;
    std::vector<uint8_t> png = mac;
    png[0] = 0x89;
    const std::vector<uint8_t> exact(mac.begin(), mac.begin() + 128);
    for (const auto& [bytes, found, first] :
         std::vector<std::tuple<std::vector<uint8_t>, bool, uint8_t>>{
             {mac, true, 0x42}, {png, false, 0x89}, {exact, false, 0}}) {
        VectorStream source(bytes);
        TKRLCustomReadStream r;
        r.CheckMacBinary = true;
        r.BeginRead(source, 0);
        EXPECT_EQ(r.MacBinaryFound, found);
        EXPECT_EQ(r.ReadByte(), first);
        r.EndRead();
        EXPECT_EQ(source.Position(), found ? 129 : 1);
    }
}

// Records every percent the stream reports.
class RecordingReader : public TKRLCustomReadStream {
public:
    bool Progress(int32_t percent) override {
        reports.push_back(percent);
        return false;
    }
    std::vector<int32_t> reports;
};

TEST(KRLReadStream, ProgressPhasesShareWhatIsLeft) {
    VectorStream source(Counting(100));
    RecordingReader r;
    r.BeginRead(source, 0);
    r.BeginProgress();
    r.BeginProgressPhase(0, 0, 30);
    r.Skip(50);
    r.UpdateProgress(0);
    r.Skip(50);
    r.UpdateProgress(0);
    EXPECT_EQ(r.ProgressLast(), 29);
    r.BeginProgressPhase(1, 4, 50);
    for (int i = 1; i <= 4; ++i)
        r.UpdateProgress(i);
    r.UpdateProgress(4);
    EXPECT_EQ(r.ProgressLast(), 29 + 35);
    r.BeginProgressPhase(1, 0, 0);
    r.UpdateProgress(1);
    EXPECT_EQ(r.ProgressLast(), 29 + 35 + 35);
    r.EndProgress();
    EXPECT_EQ(r.reports, (std::vector<int32_t>{0, 14, 29, 37, 46, 55, 64, 99, 100}));
}

TEST(KRLReadStream, GraphicProgressReachesTheBitmapAsStages) {
    struct Reader : TKRLCustomGraphicReadStream {
        void ReadImage() override {
            BeginProgress();
            Progress(50);
            Progress(100);
            Progress(130);
        }
    } r;
    TBitmap bitmap;
    std::vector<std::pair<TProgressStage, int>> seen;
    bitmap.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool redraw,
                            const TRect& rect, const std::string&) {
        EXPECT_FALSE(redraw);
        EXPECT_EQ(rect, TRect{});
        seen.emplace_back(stage, percent);
    };
    bitmap.OnChange = [](TObject*) {};
    VectorStream source(Counting(4));
    r.ReadFromStream(&bitmap, source, 0);
    EXPECT_EQ(seen, (std::vector<std::pair<TProgressStage, int>>{
                        {psStarting, 0}, {psRunning, 50}, {psEnding, 100}, {psEnding, 100}}));
    EXPECT_TRUE(bitmap.OnChange);
}

TEST(KRLWriteStream, LongBlocksBypassTheBuffer) {
    struct Writer : TKRLCustomWriteStream {};
    VectorStream out({});
    Writer w;
    w.BeginWrite(out);
    const std::vector<uint8_t> small = Counting(65519);
    w.WriteBlock(small.data(), 65519);
    w.WriteLongBE(0x01020304);
    EXPECT_EQ(out.writes, 0);
    EXPECT_EQ(w.InBuffer(), 65519 + 4);
    const std::vector<uint8_t> large = Counting(65520, 3);
    w.WriteBlock(large.data(), 65520);
    EXPECT_EQ(out.writes, 2); // the buffer, then the block itself
    EXPECT_EQ(w.InBuffer(), 0);
    EXPECT_EQ(w.Written(), 65519 + 4 + 65520);
    w.WriteBlock(nullptr, 0);
    EXPECT_TRUE(w.Stopped);
    w.WriteLongBE(7);
    w.FlushPending();
    ASSERT_EQ(out.Data().size(), 65519u + 4 + 65520);
    EXPECT_EQ(out.Data()[65519], 1);
    EXPECT_EQ(out.Data()[65522], 4);
    EXPECT_EQ(out.Data()[65523], 3);
}

TEST(KRLPixelFormats, BitsAndFormatsMapBothWays) {
    EXPECT_EQ(BitsFromPixelFormat(pfCustom), 15);
    EXPECT_EQ(BitsFromPixelFormat(pfDevice), 24);
    EXPECT_EQ(PixelFormatFromBits(2), pf24bit);
    EXPECT_EQ(PixelFormatFromBits(24), pf24bit);
    for (const TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
        EXPECT_EQ(PixelFormatFromBits(BitsFromPixelFormat(f)), f);
}

} // namespace
