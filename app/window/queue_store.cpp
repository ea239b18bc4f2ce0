#include "app/window/queue_store.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <limits>
#include <utility>

#include "app/window/window_prompts.h"

namespace {

constexpr int kPages = 3;
// Far beyond any queue a person builds; a larger file is not a queue.
constexpr qint64 kMostQueueFileBytes = qint64{16} << 20;
// The source settings as an object of their own; the times' 64-bit values
// are written as text like the targets.
QJsonObject SourceObject(const SourceSettings& s) {
    return QJsonObject{
        {"deinterlace", int(s.deinterlace)},
        {"extra_rotation", s.extra_rotation},
        {"crop", int(s.crop)},
        {"crop_left", qint64(s.crop_edges.left)},
        {"crop_top", qint64(s.crop_edges.top)},
        {"crop_right", qint64(s.crop_edges.right)},
        {"crop_bottom", qint64(s.crop_edges.bottom)},
        {"scale_width", qint64(s.scale_width)},
        {"scale_height", qint64(s.scale_height)},
        {"start_unit", int(s.start.unit)},
        {"start", QString::number(s.start.value)},
        {"duration_unit", int(s.duration.unit)},
        {"duration", QString::number(s.duration.value)},
        {"audio_track", s.audio_track},
    };
}

// Every setting of a row by name; numbers beyond 53 bits would lose digits
// in JSON, so the 64-bit targets are written as text.
QJsonObject SettingsObject(const EncodeSettings& s) {
    return QJsonObject{
        {"picture_format", qint64(s.picture_format)},
        {"transform", qint64(s.transform)},
        {"rate_numerator", qint64(s.frame_rate.numerator)},
        {"rate_denominator", qint64(s.frame_rate.denominator)},
        {"p_frames", s.p_frames},
        {"b_frames", s.b_frames},
        {"scene_change", s.scene_change},
        {"matrix", s.matrix},
        {"quality_i", s.quality_i},
        {"quality_p", s.quality_p},
        {"quality_b", s.quality_b},
        {"preset", int(s.preset)},
        {"adaptive_quantisation", s.adaptive_quantisation},
        {"sound_method", qint64(s.sound_method)},
        {"audio_block_size", qint64(s.audio_block_size)},
        {"target_bytes", QString::number(s.target_bytes)},
        {"target_bits_per_second", QString::number(s.target_bits_per_second)},
        {"source", SourceObject(s.source)},
    };
}

template <class T>
T Number(const QJsonObject& o, const char* key, T fallback) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble()) return fallback;
    const double d = v.toDouble();
    // A hand-edited or damaged file must not turn into an absurd setting
    // through an out-of-range conversion.
    if (!(d >= 0.0) || d > double(std::numeric_limits<T>::max())) return fallback;
    return static_cast<T>(d);
}

uint64_t BigNumber(const QJsonObject& o, const char* key) {
    bool ok = false;
    const qulonglong n = o.value(QLatin1String(key)).toString().toULongLong(&ok);
    return ok ? n : 0;
}

SourceTime TimeFrom(const QJsonObject& o, const char* unit_key, const char* value_key) {
    SourceTime time;
    const int unit = Number(o, unit_key, 0);
    if (unit > int(SourceTime::Unit::kFrames)) return time;
    time.unit = SourceTime::Unit(unit);
    time.value = BigNumber(o, value_key);
    // A point or a length of nothing is no cut at all.
    if (time.value == 0) time = SourceTime();
    return time;
}

// A file without the object (written before the source settings existed)
// gives the defaults; a value out of its range falls back to its default.
SourceSettings SourceFrom(const QJsonObject& o) {
    SourceSettings s;
    const int deinterlace = Number(o, "deinterlace", 0);
    s.deinterlace = deinterlace <= int(Deinterlace::kOff) ? Deinterlace(deinterlace) : Deinterlace::kAuto;
    const uint16_t rotation = Number<uint16_t>(o, "extra_rotation", 0);
    s.extra_rotation = rotation % 90 == 0 && rotation < 360 ? rotation : 0;
    const int crop = Number(o, "crop", 0);
    s.crop = crop <= int(CropMode::kEdges) ? CropMode(crop) : CropMode::kNone;
    if (s.crop == CropMode::kEdges)
        s.crop_edges = {Number<uint32_t>(o, "crop_left", 0), Number<uint32_t>(o, "crop_top", 0),
                        Number<uint32_t>(o, "crop_right", 0), Number<uint32_t>(o, "crop_bottom", 0)};
    for (auto [key, side] : {std::pair{"scale_width", &s.scale_width}, std::pair{"scale_height", &s.scale_height}}) {
        *side = Number<uint32_t>(o, key, 0);
        if (*side > kMaxScaleDimension) *side = 0;
    }
    s.start = TimeFrom(o, "start_unit", "start");
    s.duration = TimeFrom(o, "duration_unit", "duration");
    s.audio_track = Number<uint16_t>(o, "audio_track", 0);
    return s;
}

EncodeSettings SettingsFrom(const QJsonObject& o) {
    EncodeSettings s;
    s.picture_format = Number(o, "picture_format", s.picture_format);
    s.transform = Number(o, "transform", s.transform);
    s.frame_rate.numerator = Number(o, "rate_numerator", s.frame_rate.numerator);
    s.frame_rate.denominator = Number(o, "rate_denominator", s.frame_rate.denominator);
    s.p_frames = Number(o, "p_frames", s.p_frames);
    s.b_frames = Number(o, "b_frames", s.b_frames);
    s.scene_change = Number(o, "scene_change", s.scene_change);
    s.matrix = Number(o, "matrix", s.matrix);
    s.quality_i = Number(o, "quality_i", s.quality_i);
    s.quality_p = Number(o, "quality_p", s.quality_p);
    s.quality_b = Number(o, "quality_b", s.quality_b);
    const int preset = Number(o, "preset", 0);
    s.preset = preset <= int(RVXPreset::kSlow) ? RVXPreset(preset) : RVXPreset::kClassic;
    s.adaptive_quantisation = o.value("adaptive_quantisation").toBool(false);
    s.sound_method = Number(o, "sound_method", s.sound_method);
    s.audio_block_size = Number(o, "audio_block_size", s.audio_block_size);
    s.target_bytes = BigNumber(o, "target_bytes");
    s.target_bits_per_second = BigNumber(o, "target_bits_per_second");
    s.source = SourceFrom(o.value("source").toObject());
    return s;
}

const char* StateName(QueueState state) {
    switch (state) {
    case QueueState::kWaiting:
    case QueueState::kRunning:
        return "waiting";
    case QueueState::kDone:
    case QueueState::kTargetMissed:  // a movie was written; the sizes say it missed
        return "done";
    case QueueState::kFailed:
        return "failed";
    case QueueState::kAborted:
        return "aborted";
    }
    return "waiting";
}

QueueState StateFrom(const QString& name) {
    if (name == "done") return QueueState::kDone;
    if (name == "failed") return QueueState::kFailed;
    if (name == "aborted") return QueueState::kAborted;
    return QueueState::kWaiting;
}

}  // namespace

bool SaveQueue(const QString& path, const std::vector<QueueEntry>& entries) {
    QJsonArray rows;
    for (const QueueEntry& e : entries)
        rows.append(QJsonObject{
            {"page", e.page},
            {"source", Q(e.request.source)},
            {"wave", Q(e.request.wave)},
            {"output", Q(e.request.output)},
            {"settings", SettingsObject(e.request.settings)},
            {"state", StateName(e.state)},
            {"reason", Q(e.reason)},
            {"target_missed", e.state == QueueState::kTargetMissed},
            {"target_bytes", QString::number(e.target_bytes)},
            {"written_bytes", QString::number(e.written_bytes)},
        });
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray text = QJsonDocument(QJsonObject{{"queue", rows}}).toJson();
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::vector<QueueEntry> LoadQueue(const QString& path) {
    std::vector<QueueEntry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMostQueueFileBytes) return entries;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    for (const QJsonValue& value : document.object().value("queue").toArray()) {
        const QJsonObject o = value.toObject();
        QueueEntry e;
        e.page = Number(o, "page", -1);
        e.request.source = U(o.value("source").toString());
        e.request.wave = U(o.value("wave").toString());
        e.request.output = U(o.value("output").toString());
        if (e.page < 0 || e.page >= kPages || e.request.source.empty() || e.request.output.empty()) continue;
        e.request.settings = SettingsFrom(o.value("settings").toObject());
        e.state = StateFrom(o.value("state").toString());
        e.reason = U(o.value("reason").toString());
        e.target_bytes = BigNumber(o, "target_bytes");
        e.written_bytes = BigNumber(o, "written_bytes");
        if (e.state == QueueState::kDone && o.value("target_missed").toBool(false)) e.state = QueueState::kTargetMissed;
        entries.push_back(std::move(e));
    }
    return entries;
}
