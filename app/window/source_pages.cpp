// The three source pages: their fields, dialogs and jobs.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

#include "app/control_ids.h"
#include "app/window/avi_info_reader.h"
#include "app/window/path_field.h"
#include "app/window/source_page.h"
#include "jobs/encode_from_avi.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/encode_from_images.h"

namespace {

// Typing pauses this long before a path is read, so that a burst of typing
// reads one file, not one per letter.
constexpr int kInfoLinesPauseMs = 150;

// The AVI page also shows what the chosen file holds. The lines are read off
// the window's thread: editing the path clears them at once, and only the
// answer for the path now in the field fills them again.
class CAviPage : public CSourcePage {
public:
    explicit CAviPage(QWidget* parent)
        : CSourcePage(parent,
                      {{kIdAviPath,
                        kIdAviBrowse,
                        U(CSourcePage::tr("AVIファイル")),
                        U(CSourcePage::tr("参照(&F)")),
                        {false, U(CSourcePage::tr("AVIファイルを選択する")), {{U(CSourcePage::tr("avi file (*.avi)")), "*.avi"}}},
                        {}}}),
          reader_(this, [this](uint64_t question, const AviInfoLines& lines) { ShowInfoLines(question, lines); }) {
        const int row = Grid()->rowCount();
        video_ = AddInfoLine(row, CSourcePage::tr("映像ライン："), kIdAviVideoLine);
        sound_ = AddInfoLine(row + 1, CSourcePage::tr("音楽ライン："), kIdAviSoundLine);
        Grid()->setRowStretch(row + 2, 1);
        pause_.setSingleShot(true);
        pause_.setInterval(kInfoLinesPauseMs);
        connect(&pause_, &QTimer::timeout, this, [this] { AskInfoLines(); });
        CPathField* field = Field(kIdAviPath);
        connect(field, &QLineEdit::textChanged, this, [this] { PathEdited(); });
        connect(field, &QLineEdit::editingFinished, this, [this] { AskInfoLines(); });
    }

protected:
    void PathChosen(uint32_t) override { AskInfoLines(); }

private:
    QLabel* AddInfoLine(int row, const QString& caption, uint32_t id) {
        auto* line = new QWidget(this);
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QLabel(caption, line));
        auto* value = new QLabel(line);
        value->setObjectName(QString::number(id));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(value, 1);
        Grid()->addWidget(line, row, 0, 1, 2);
        return value;
    }

    // The lines shown belong to the old path: they go, and so does any
    // answer still on its way.
    void PathEdited() {
        ++question_;
        video_->clear();
        sound_->clear();
        pause_.start();
    }

    void AskInfoLines() {
        pause_.stop();
        ++question_;
        const std::string path = U(Field(kIdAviPath)->text());
        if (path.empty()) {
            video_->clear();
            sound_->clear();
            return;
        }
        reader_.Ask(question_, path);
    }

    // A line is numbers and names, or the one word for a stream the file
    // does not have.
    static QString LineText(const std::string& line) {
        return line == "ありません。" ? CSourcePage::tr("ありません。") : Q(line);
    }

    void ShowInfoLines(uint64_t question, const AviInfoLines& lines) {
        if (question != question_) return;
        video_->setText(LineText(lines.video));
        sound_->setText(LineText(lines.sound));
    }

    QLabel* video_;
    QLabel* sound_;
    QTimer pause_;
    uint64_t question_ = 0;
    // Destroyed first: its thread ends before anything of the page goes.
    CAviInfoReader reader_;
};

}  // namespace

CSourcePage* CreateMoviePage(QWidget* parent) {
    auto* page = new CSourcePage(
        parent, {{kIdMoviePath,
                  kIdMovieBrowse,
                  U(CSourcePage::tr("動画ファイル")),
                  U(CSourcePage::tr("参照(&D)")),
                  {false,
                   U(CSourcePage::tr("動画ファイルを選択する")),
                   {{U(CSourcePage::tr("mpeg file (*.mpg)")), "*.mpg"}, {U(CSourcePage::tr("avi file (*.avi)")), "*.avi"}}},
                  {}}});
    page->findChild<QGridLayout*>()->setRowStretch(2, 1);
    return page;
}

CSourcePage* CreateImagePage(QWidget* parent) {
    auto* page = new CSourcePage(
        parent,
        {{kIdImagePath,
          kIdImageBrowse,
          U(CSourcePage::tr("連番画像ファイル")),
          U(CSourcePage::tr("参照(&I)")),
          {false, U(CSourcePage::tr("連番画像ファイルを選択する")), {{U(CSourcePage::tr("bmp file (*.bmp)")), "*.bmp"}, {U(CSourcePage::tr("png file (*.png)")), "*.png"}}},
          {}},
         {kIdWavePath,
          kIdWaveBrowse,
          U(CSourcePage::tr("音楽ファイル")),
          U(CSourcePage::tr("参照(&W)")),
          {false, U(CSourcePage::tr("音楽ファイルを選択する")), {{U(CSourcePage::tr("wave file (*.wav)")), "*.wav"}}},
          {".wav", ".wave"}}});
    page->findChild<QGridLayout*>()->setRowStretch(4, 1);
    return page;
}

CSourcePage* CreateAviPage(QWidget* parent) { return new CAviPage(parent); }

PageJobFactory PageJobFactoryFor(int page) {
    switch (page) {
    case 0:
        return MakePageJobFactory<CEncodeFromDirectShow>();
    case 1:
        return MakePageJobFactory<CEncodeFromSeqFile>();
    case 2:
        return MakePageJobFactory<CEncodeFromAVI>();
    }
    return nullptr;
}
