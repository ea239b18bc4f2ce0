#pragma once
// Runs GStreamer pipelines over real movies with the plug-in loaded from
// the build tree, and collects what their appsinks (named "video" and
// "audio") receive and what the bus reports.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

// Loads the plug-in from this build; safe to call from every test.
inline void InitGstreamer() {
    static const bool ready = [] {
        ::setenv("GST_PLUGIN_PATH", RVX_BINARY_DIR "/gst", 1);
        // A fresh registry for every run, so an installed plug-in, another
        // build's or a stale entry never stands in for this build's.
        static const std::string registry = (std::filesystem::temp_directory_path() /
                                             ("gst-registry-" + std::to_string(::getpid()) + ".bin")).string();
        std::filesystem::remove(registry);
        ::setenv("GST_REGISTRY", registry.c_str(), 1);
        std::atexit([] { std::filesystem::remove(registry); });
        // Plug-ins are scanned in this process: a sanitizer build's plug-in
        // cannot be loaded by the uninstrumented scanner program.
        ::setenv("GST_REGISTRY_FORK", "no", 1);
        gst_init(nullptr, nullptr);
        return true;
    }();
    (void)ready;
}

struct Sample {
    uint64_t pts = 0;
    std::vector<uint8_t> bytes;
};

struct PipelineRun {
    bool eos = false;
    bool timed_out = false;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    std::vector<Sample> video;
    std::vector<Sample> audio;  // one sample per buffer
    std::string video_caps;
    std::string audio_caps;

    std::vector<uint8_t> AllAudio() const {
        std::vector<uint8_t> all;
        for (const Sample& s : audio) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
        return all;
    }
};

class Pipeline {
public:
    explicit Pipeline(const std::string& description) {
        InitGstreamer();
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        if (error) {
            ADD_FAILURE() << "cannot build " << description << ": " << error->message;
            g_error_free(error);
        }
        for (const char* name : {"video", "audio"}) {
            GstElement* sink = pipeline_ ? gst_bin_get_by_name(GST_BIN(pipeline_), name) : nullptr;
            if (!sink) continue;
            g_object_set(sink, "sync", FALSE, "emit-signals", TRUE, nullptr);
            g_signal_connect(sink, "new-sample", G_CALLBACK(&Pipeline::OnSample), this);
            gst_object_unref(sink);
        }
    }
    ~Pipeline() {
        if (!pipeline_) return;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* get() const { return pipeline_; }

    // Plays to the end (or the first error) within the time limit.
    PipelineRun Play(std::chrono::seconds limit = std::chrono::seconds(60)) {
        if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        Wait(limit, false);
        std::lock_guard<std::mutex> lock(mutex_);
        return run_;
    }
    // Brings the pipeline to PAUSED (prerolled); false on error or timeout.
    bool Pause(std::chrono::seconds limit = std::chrono::seconds(60)) {
        if (!pipeline_) return false;
        gst_element_set_state(pipeline_, GST_STATE_PAUSED);
        return Wait(limit, true);
    }
    // Forgets what the sinks received so far.
    void ClearSamples() {
        std::lock_guard<std::mutex> lock(mutex_);
        run_.video.clear();
        run_.audio.clear();
    }

private:
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer self) {
        auto* pipeline = static_cast<Pipeline*>(self);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_ERROR;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        Sample taken;
        taken.pts = GST_BUFFER_PTS(buffer);
        taken.bytes.resize(gst_buffer_get_size(buffer));
        gst_buffer_extract(buffer, 0, taken.bytes.data(), taken.bytes.size());
        gchar* caps = gst_caps_to_string(gst_sample_get_caps(sample));
        const bool video = std::string(GST_OBJECT_NAME(sink)) == "video";
        {
            std::lock_guard<std::mutex> lock(pipeline->mutex_);
            (video ? pipeline->run_.video : pipeline->run_.audio).push_back(std::move(taken));
            (video ? pipeline->run_.video_caps : pipeline->run_.audio_caps) = caps;
        }
        g_free(caps);
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    // Reads the bus until the end of the stream, an error, or (when
    // until_prerolled) the pipeline's ASYNC_DONE.
    bool Wait(std::chrono::seconds limit, bool until_prerolled) {
        if (!pipeline_) return false;
        GstBus* bus = gst_element_get_bus(pipeline_);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool done = false, ok = false;
        while (!done) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) {
                std::lock_guard<std::mutex> lock(mutex_);
                run_.timed_out = true;
                break;
            }
            GstMessage* message = gst_bus_timed_pop(
                bus, GstClockTime(std::chrono::duration_cast<std::chrono::nanoseconds>(left).count()));
            if (!message) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_EOS:
                run_.eos = true;
                done = ok = true;
                break;
            case GST_MESSAGE_ERROR:
            case GST_MESSAGE_WARNING: {
                GError* error = nullptr;
                if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                    gst_message_parse_error(message, &error, nullptr);
                    run_.errors.push_back(error->message);
                    done = true;
                } else {
                    gst_message_parse_warning(message, &error, nullptr);
                    run_.warnings.push_back(error->message);
                }
                g_error_free(error);
                break;
            }
            case GST_MESSAGE_ASYNC_DONE:
                if (until_prerolled) done = ok = true;
                break;
            default:
                break;
            }
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        return ok;
    }

    GstElement* pipeline_ = nullptr;
    std::mutex mutex_;
    PipelineRun run_;
};

// The demuxer and decoders alone, ending in appsinks; push makes the
// demuxer work in push mode (a queue cannot be pulled from).
inline std::string DecodePipeline(const std::string& path, bool push, bool sound,
                                  const std::string& video_decoder = "rvxvideodec") {
    std::string description = "filesrc location=\"" + path + "\" ! " + (push ? "queue ! " : "") +
                              "rvxdemux name=d d.video ! queue ! " + video_decoder + " ! appsink name=video";
    if (sound) description += " d.audio ! queue ! snxaudiodec ! appsink name=audio";
    return description;
}
