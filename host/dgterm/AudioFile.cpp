#include "AudioFile.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <samplerate.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace rz::dgterm {
namespace {

constexpr sf_count_t kChunkFrames = 4096;
// How often a written-out FIFO is checked for what the driver has not read yet.
constexpr std::chrono::milliseconds kDrainPoll{10};
// Enough for a clean copy of a modem's tones; libsamplerate's best costs five
// times as much for nothing a decoder could tell.
constexpr int kConverter = SRC_SINC_FASTEST;

struct CloseSoundFile {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, CloseSoundFile>;

struct DeleteConverter {
    void operator()(SRC_STATE* state) const { src_delete(state); }
};

// Mono audio at one rate to mono audio at another, a chunk at a time.
class Resampler {
public:
    Resampler(int fromRate, int toRate, std::string& error) : m_ratio(static_cast<double>(toRate) / fromRate)
    {
        int code = 0;
        m_state.reset(src_new(kConverter, 1, &code));
        if (!m_state)
            error = std::string("cannot resample: ") + src_strerror(code);
    }
    bool Usable() const { return m_state != nullptr; }

    // Converts `input` (all of it) and returns what came out; `last` flushes.
    const std::vector<float>& Process(const std::vector<float>& input, bool last)
    {
        m_output.resize(static_cast<size_t>(input.size() * m_ratio) + kChunkFrames);
        SRC_DATA data = {};
        data.data_in = input.data();
        data.input_frames = static_cast<long>(input.size());
        data.data_out = m_output.data();
        data.output_frames = static_cast<long>(m_output.size());
        data.end_of_input = last ? 1 : 0;
        data.src_ratio = m_ratio;
        std::vector<float> gathered;
        for (;;) {
            if (src_process(m_state.get(), &data) != 0)
                break;
            gathered.insert(gathered.end(), m_output.begin(), m_output.begin() + data.output_frames_gen);
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
            if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
                break;
        }
        m_output = std::move(gathered);
        return m_output;
    }

private:
    double m_ratio;
    std::unique_ptr<SRC_STATE, DeleteConverter> m_state;
    std::vector<float> m_output;
};

// Reads up to a chunk of `file` as mono (the channels' mean); false at its end.
bool ReadMono(SNDFILE* file, int channels, std::vector<float>& mono)
{
    std::vector<float> frames(static_cast<size_t>(kChunkFrames * channels));
    const sf_count_t got = sf_readf_float(file, frames.data(), kChunkFrames);
    mono.assign(static_cast<size_t>(std::max<sf_count_t>(got, 0)), 0.0f);
    for (sf_count_t frame = 0; frame < got; ++frame) {
        float sum = 0.0f;
        for (int channel = 0; channel < channels; ++channel)
            sum += frames[static_cast<size_t>(frame * channels + channel)];
        mono[static_cast<size_t>(frame)] = sum / static_cast<float>(channels);
    }
    return got > 0;
}

std::vector<short> ToShorts(const std::vector<float>& samples)
{
    std::vector<short> shorts(samples.size());
    src_float_to_short_array(samples.data(), shorts.data(), static_cast<int>(samples.size()));
    return shorts;
}

}  // namespace

struct RecordingFeed::Shared {
    std::string inputPath;
    SoundFile input;  // opened by the feeder when it is a stream
    SF_INFO inputInfo = {};
    int cardRate = 0;
    std::string fifoPath;
    std::mutex fifoLock;
    int fifoFd = -1;  // the driver's end of the stream: ours to close
    SoundFile output;
    std::atomic<uint64_t> fed{0};
    std::atomic<bool> ended{false};
    std::string error;  // set before `ended`
    std::thread feeder;

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared()
    {
        output.reset();
        CloseFifo();
        std::filesystem::remove(fifoPath);
    }

    void OpenInput()
    {
        input.reset(inputPath == "-" ? sf_open_fd(STDIN_FILENO, SFM_READ, &inputInfo, SF_FALSE)
                                     : sf_open(inputPath.c_str(), SFM_READ, &inputInfo));
        if (!input)
            error = "cannot read " + inputPath + ": " + sf_strerror(nullptr);
    }

    void CloseFifo()
    {
        std::lock_guard lock(fifoLock);
        if (fifoFd >= 0)
            close(fifoFd);
        fifoFd = -1;
    }

    // The driver sees the end at once, while the feeder may still be writing:
    // its descriptor then leads to /dev/null.
    void EndFifo()
    {
        std::lock_guard lock(fifoLock);
        const int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (fifoFd >= 0 && nothing >= 0)
            dup2(nothing, fifoFd);
        if (nothing >= 0)
            close(nothing);
    }

    void Feed()
    {
        // A FIFO or a pipe opens (and shows its header) only once its writer has
        // come: here, so that the session can still be interrupted meanwhile.
        if (!input)
            OpenInput();
        std::optional<Resampler> resampler;
        if (input)
            resampler.emplace(inputInfo.samplerate, cardRate, error);
        std::vector<float> mono;
        for (bool more = resampler && resampler->Usable(); more;) {
            more = ReadMono(input.get(), inputInfo.channels, mono);
            const std::vector<short> samples = ToShorts(resampler->Process(mono, !more));
            if (sf_writef_short(output.get(), samples.data(), static_cast<sf_count_t>(samples.size())) !=
                static_cast<sf_count_t>(samples.size()))
                break;
            fed += samples.size();
        }
        output.reset();
        AwaitDrained();
        CloseFifo();
        ended = true;
    }

    // A FIFO's data lives only while one of its ends is open, and a short
    // recording is written whole before the driver has opened it: hold this end
    // until the driver has read everything (or the feed is ended).
    void AwaitDrained()
    {
        for (;;) {
            int unread = 0;
            {
                std::lock_guard lock(fifoLock);
                if (fifoFd < 0 || ioctl(fifoFd, FIONREAD, &unread) != 0 || unread == 0)
                    return;
            }
            std::this_thread::sleep_for(kDrainPoll);
        }
    }
};

RecordingFeed::RecordingFeed(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

std::unique_ptr<RecordingFeed> RecordingFeed::Open(const std::string& path, int cardRate, std::string& error)
{
    auto shared = std::make_shared<Shared>();
    shared->inputPath = path;
    shared->cardRate = cardRate;
    struct stat status = {};
    const bool stream = path == "-" || (stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    if (!stream) {
        shared->OpenInput();
        if (!shared->input) {
            error = shared->error;
            return nullptr;
        }
    }
    std::error_code ignored;
    shared->fifoPath = (std::filesystem::temp_directory_path(ignored) /
                        ("dgterm-feed-" + std::to_string(getpid()) + "-" + std::to_string(cardRate)))
                           .string();
    std::filesystem::remove(shared->fifoPath, ignored);
    // Opened both ways, the FIFO opens without waiting for the driver, and its
    // reader sees the end only when this end closes.
    if (mkfifo(shared->fifoPath.c_str(), 0600) != 0 || (shared->fifoFd = open(shared->fifoPath.c_str(), O_RDWR)) < 0) {
        error = "cannot make a FIFO for the sound driver at " + shared->fifoPath;
        return nullptr;
    }
    // AU carries an unknown length, so it can be written into a FIFO. Its header
    // goes in now: the driver reads it when the card opens.
    SF_INFO info = {};
    info.samplerate = cardRate;
    info.channels = 1;
    info.format = SF_FORMAT_AU | SF_FORMAT_PCM_16;
    // Only CloseFifo closes the descriptor, under the lock.
    shared->output.reset(sf_open_fd(shared->fifoFd, SFM_WRITE, &info, SF_FALSE));
    if (!shared->output) {
        error = std::string("cannot write the sound driver's stream: ") + sf_strerror(nullptr);
        return nullptr;
    }
    shared->feeder = std::thread([shared] { shared->Feed(); });
    return std::unique_ptr<RecordingFeed>(new RecordingFeed(shared));
}

RecordingFeed::~RecordingFeed() { Stop(); }

void RecordingFeed::Stop()
{
    m_shared->EndFifo();
    if (!m_shared->feeder.joinable())
        return;
    if (m_shared->ended)
        m_shared->feeder.join();
    else
        m_shared->feeder.detach();
}

const std::string& RecordingFeed::DriverPath() const { return m_shared->fifoPath; }

uint64_t RecordingFeed::FramesFed() const { return m_shared->fed; }

bool RecordingFeed::Ended() const { return m_shared->ended; }

std::string RecordingFeed::Error() const { return m_shared->ended ? m_shared->error : std::string(); }

bool ConvertRecording(const std::string& from, const std::string& to, int rate, int channels, std::string& error)
{
    SF_INFO inInfo = {};
    SoundFile in(sf_open(from.c_str(), SFM_READ, &inInfo));
    if (!in) {
        error = "cannot read the transmission back: " + std::string(sf_strerror(nullptr));
        return false;
    }
    SF_INFO outInfo = {};
    outInfo.samplerate = rate;
    outInfo.channels = channels;
    outInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile out(sf_open(to.c_str(), SFM_WRITE, &outInfo));
    Resampler resampler(inInfo.samplerate, rate, error);
    if (!out || !resampler.Usable()) {
        if (!out)
            error = "cannot write " + to + ": " + sf_strerror(nullptr);
        return false;
    }
    std::vector<float> mono;
    for (bool more = true; more;) {
        more = ReadMono(in.get(), inInfo.channels, mono);
        const std::vector<short> samples = ToShorts(resampler.Process(mono, !more));
        std::vector<short> frames;
        frames.reserve(samples.size() * static_cast<size_t>(channels));
        for (short sample : samples)
            frames.insert(frames.end(), static_cast<size_t>(channels), sample);
        if (sf_writef_short(out.get(), frames.data(), static_cast<sf_count_t>(samples.size())) !=
            static_cast<sf_count_t>(samples.size())) {
            error = "cannot write " + to + ": " + sf_strerror(out.get());
            return false;
        }
    }
    return true;
}

}  // namespace rz::dgterm
