#pragma once
// What the movie pipeline's two sinks share: an appsink that accepts one kind
// of raw data, calls Render for every decoded sample on the pipeline's
// streaming thread with no clock (nothing waits for its time, nothing is
// dropped), and holds one sample at a time so the decoder waits while the
// encoder works and memory stays flat however long the movie is.

#include <atomic>
#include <mutex>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;
typedef struct _GstCaps GstCaps;

class CMovieSink {
public:
    CMovieSink(std::mutex& lock, const char* name, const char* caps);
    virtual ~CMovieSink();
    CMovieSink(const CMovieSink&) = delete;
    CMovieSink& operator=(const CMovieSink&) = delete;

    // The appsink; this object keeps a reference of its own.
    GstElement* Element() const { return sink_; }
    // From now on samples are refused rather than handed on.
    void SetStopping() { stopping_ = true; }

    // One decoded sample, on the streaming thread: a GstFlowReturn.
    virtual int Render(GstSample* sample) = 0;

protected:
    // The caps the sink agreed on (a new reference), null before it connected.
    GstCaps* NegotiatedCaps() const;
    // Ends the stream with an error whose text the job reports.
    void PostError(const std::string& text);
    bool Stopping() const { return stopping_; }

    std::mutex& lock_;  // held around every delegate call
    GstElement* sink_ = nullptr;

private:
    std::atomic<bool> stopping_{false};
};
