// The main window's controls, laid out like the original dialog: the source
// tab on top, the output file, the two option groups, then status, progress
// and the job buttons.
#include <QComboBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "app/window/job_controller.h"
#include "app/window/job_queue_panel.h"
#include "app/window/main_window.h"
#include "app/window/path_field.h"
#include "app/window/source_page.h"

namespace {

// Dialog units of the window's font: a quarter of the average Latin letter
// width across (the font's own average counts the wide CJK glyphs), an eighth
// of the line height down.
struct DialogUnits {
    explicit DialogUnits(const QFont& font)
        : metrics(font),
          letter_width(metrics.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                       52.0) {}
    int X(int units) const { return static_cast<int>(units * letter_width / 4.0 + 0.5); }
    int Y(int units) const { return units * metrics.height() / 8; }
    QFontMetrics metrics;
    double letter_width;
};

QComboBox* List(QWidget* parent, uint32_t id) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::number(id));
    list->setMaxVisibleItems(11);
    return list;
}

QLineEdit* NumberField(QWidget* parent, uint32_t id, int width) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::number(id));
    field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
    field->setAlignment(Qt::AlignRight);
    field->setFixedWidth(width);
    return field;
}

QPushButton* Button(QWidget* parent, uint32_t id, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

QGroupBox* Group(QWidget* parent, const QString& title) { return new QGroupBox(title, parent); }

QFormLayout* Form(QWidget* parent) {
    auto* form = new QFormLayout(parent);
    form->setLabelAlignment(Qt::AlignLeft);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setVerticalSpacing(3);
    form->setContentsMargins(6, 4, 6, 4);
    return form;
}

QTabWidget* SourceTab(QWidget* window, const DialogUnits& du, std::array<CSourcePage*, 3>& pages) {
    auto* tab = new QTabWidget(window);
    tab->setObjectName(QString::number(kIdSourceTab));
    pages = {CreateMoviePage(window), CreateImagePage(window), CreateAviPage(window)};
    tab->addTab(pages[0], CMainWindow::tr("DirectShowからのエンコード"));
    tab->addTab(pages[1], CMainWindow::tr("連番ファイルからのエンコード"));
    tab->addTab(pages[2], CMainWindow::tr("AVIファイルからのエンコード"));
    for (CSourcePage* page : pages) page->setMinimumSize(du.X(330), du.Y(75));
    tab->setCurrentIndex(0);
    return tab;
}

QGroupBox* PictureOptionsBox(QWidget* parent, COptionControls& options) {
    QGroupBox* box = Group(parent, CMainWindow::tr("画像オプション"));
    QFormLayout* form = Form(box);
    options.picture_format = List(box, kIdPictureFormat);
    options.transform = List(box, kIdTransform);
    form->addRow(CMainWindow::tr("画像形式"), options.picture_format);
    form->addRow(CMainWindow::tr("符号化方式"), options.transform);
    options.preset = new QComboBox(box);
    options.preset->setObjectName(QStringLiteral("preset"));
    form->addRow(CMainWindow::tr("プリセット"), options.preset);
    return box;
}

QGroupBox* FrameRateBox(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    const int number_width = du.X(36);
    QGroupBox* box = Group(parent, CMainWindow::tr("フレームレート"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(3);
    options.frame_rate = List(box, kIdFrameRate);
    layout->addWidget(options.frame_rate);
    auto* fraction = new QHBoxLayout;
    options.rate_numerator = NumberField(box, kIdFrameRateNumerator, number_width + du.X(8));
    options.rate_denominator = NumberField(box, kIdFrameRateDenominator, number_width);
    fraction->addWidget(options.rate_numerator);
    fraction->addWidget(new QLabel(CMainWindow::tr("/"), box));
    fraction->addWidget(options.rate_denominator);
    fraction->addWidget(new QLabel(CMainWindow::tr("fps"), box));
    fraction->addStretch(1);
    layout->addLayout(fraction);
    return box;
}

QGroupBox* GopBox(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    const int number_width = du.X(36);
    QGroupBox* box = Group(parent, CMainWindow::tr("GOP構造"));
    QFormLayout* form = Form(box);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    options.p_frames = NumberField(box, kIdPFrames, number_width);
    options.b_frames = NumberField(box, kIdBFrames, number_width);
    options.scene_change = NumberField(box, kIdSceneChange, number_width);
    form->addRow(CMainWindow::tr("GOP内のPフレーム数"), options.p_frames);
    form->addRow(CMainWindow::tr("GOP内のBフレーム数"), options.b_frames);
    form->addRow(CMainWindow::tr("シーンチェンジ検出値"), options.scene_change);
    return box;
}

QGroupBox* QuantisationBox(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    const int number_width = du.X(36);
    QGroupBox* box = Group(parent, CMainWindow::tr("量子化"));
    QFormLayout* form = Form(box);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    options.matrix = List(box, kIdQuantMatrix);
    options.quality_i = NumberField(box, kIdQualityI, number_width);
    options.quality_p = NumberField(box, kIdQualityP, number_width);
    options.quality_b = NumberField(box, kIdQualityB, number_width);
    form->addRow(CMainWindow::tr("量子化行列"), options.matrix);
    form->addRow(CMainWindow::tr("Iフレームの品質"), options.quality_i);
    form->addRow(CMainWindow::tr("Pフレームの品質"), options.quality_p);
    form->addRow(CMainWindow::tr("Bフレームの品質"), options.quality_b);
    return box;
}

// Either the three qualities of the quantisation box or a size the two
// passes aim at.
QWidget* RateChoiceRow(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 0, 6, 0);
    options.rate_quality = new QRadioButton(CMainWindow::tr("品質を指定"), row);
    options.rate_quality->setObjectName(QStringLiteral("rateQuality"));
    options.rate_size = new QRadioButton(CMainWindow::tr("サイズを指定"), row);
    options.rate_size->setObjectName(QStringLiteral("rateSize"));
    options.target_size = new QLineEdit(row);
    options.target_size->setObjectName(QStringLiteral("targetSize"));
    options.target_size->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}(\\.[0-9]{0,3})?"), options.target_size));
    options.target_size->setAlignment(Qt::AlignRight);
    options.target_size->setFixedWidth(du.X(44));
    layout->addWidget(options.rate_quality);
    layout->addWidget(options.rate_size);
    layout->addSpacing(du.X(8));
    layout->addWidget(new QLabel(CMainWindow::tr("目標サイズ"), row));
    layout->addWidget(options.target_size);
    layout->addWidget(new QLabel(CMainWindow::tr("MB"), row));
    layout->addStretch(1);
    return row;
}

// The part of the source and the size of its pictures, read before the
// codec's options: times in seconds with decimals, sizes in pixels; an empty
// field keeps what the source has.
QGroupBox* SourceRow(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    QGroupBox* box = Group(parent, CMainWindow::tr("入力の範囲とサイズ"));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(6, 4, 6, 6);
    auto seconds_field = [&](const char* name, const QString& placeholder) {
        auto* field = new QLineEdit(box);
        field->setObjectName(QString::fromUtf8(name));
        field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}(\\.[0-9]{0,6})?"), field));
        field->setAlignment(Qt::AlignRight);
        field->setPlaceholderText(placeholder);
        field->setFixedWidth(du.X(40));
        return field;
    };
    auto size_field = [&](const char* name, const QString& placeholder) {
        auto* field = new QLineEdit(box);
        field->setObjectName(QString::fromUtf8(name));
        field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), field));
        field->setAlignment(Qt::AlignRight);
        field->setPlaceholderText(placeholder);
        field->setFixedWidth(du.X(30));
        return field;
    };
    options.source_start = seconds_field("sourceStart", CMainWindow::tr("先頭"));
    options.source_duration = seconds_field("sourceDuration", CMainWindow::tr("最後まで"));
    options.crop = new QComboBox(box);
    options.crop->setObjectName(QStringLiteral("crop"));
    options.scale_width = size_field("scaleWidth", CMainWindow::tr("元"));
    options.scale_height = size_field("scaleHeight", CMainWindow::tr("元"));
    row->addWidget(new QLabel(CMainWindow::tr("開始"), box));
    row->addWidget(options.source_start);
    row->addWidget(new QLabel(CMainWindow::tr("秒"), box));
    row->addSpacing(du.X(6));
    row->addWidget(new QLabel(CMainWindow::tr("長さ"), box));
    row->addWidget(options.source_duration);
    row->addWidget(new QLabel(CMainWindow::tr("秒"), box));
    row->addSpacing(du.X(6));
    row->addWidget(new QLabel(CMainWindow::tr("クロップ"), box));
    row->addWidget(options.crop);
    row->addSpacing(du.X(6));
    row->addWidget(new QLabel(CMainWindow::tr("幅"), box));
    row->addWidget(options.scale_width);
    row->addWidget(new QLabel(CMainWindow::tr("×"), box));
    row->addWidget(new QLabel(CMainWindow::tr("高さ"), box));
    row->addWidget(options.scale_height);
    row->addStretch(1);
    return box;
}

QGroupBox* PictureGroup(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    QGroupBox* picture = Group(parent, CMainWindow::tr("画像符号化設定"));
    auto* grid = new QGridLayout(picture);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->addWidget(PictureOptionsBox(picture, options), 0, 0);
    grid->addWidget(FrameRateBox(picture, du, options), 0, 1);
    grid->addWidget(GopBox(picture, du, options), 1, 0);
    grid->addWidget(QuantisationBox(picture, du, options), 1, 1);
    grid->addWidget(RateChoiceRow(picture, du, options), 2, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return picture;
}

QGroupBox* SoundGroup(QWidget* parent, const DialogUnits& du, COptionControls& options) {
    QGroupBox* sound = Group(parent, CMainWindow::tr("音楽符号化設定"));
    auto* row = new QHBoxLayout(sound);
    row->setContentsMargins(6, 4, 6, 6);
    options.sound_method = List(sound, kIdSoundMethod);
    options.block_size = NumberField(sound, kIdAudioBlockSize, du.X(36) + du.X(8));
    row->addWidget(new QLabel(CMainWindow::tr("符号化方式"), sound));
    row->addWidget(options.sound_method, 1);
    row->addSpacing(du.X(12));
    row->addWidget(new QLabel(CMainWindow::tr("ブロックサイズ"), sound));
    row->addWidget(options.block_size);
    row->addStretch(1);
    return sound;
}

}  // namespace

void CMainWindow::BuildControls() {
    QFont font(QStringLiteral("Noto Sans CJK JP"), 9);
    setFont(font);
    const DialogUnits du(font);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    top->setSpacing(du.Y(3));

    tab_ = SourceTab(this, du, pages_);
    top->addWidget(tab_);

    top->addWidget(new QLabel(CMainWindow::tr("出力ファイル"), this));
    auto* output_row = new QHBoxLayout;
    output_ = new CPathField(this);
    output_->setObjectName(QString::number(kIdOutputFile));
    output_browse_ = Button(this, kIdOutputBrowse, tr("参照(&O)"));
    output_row->addWidget(output_, 1);
    output_row->addWidget(output_browse_);
    top->addLayout(output_row);

    top->addWidget(SourceRow(this, du, options_));
    top->addWidget(PictureGroup(this, du, options_));
    top->addWidget(SoundGroup(this, du, options_));

    status_ = new QLabel(this);
    status_->setObjectName(QString::number(kIdStatusLine));
    status_->setMinimumWidth(du.X(100));
    // A long path must not widen the window; the end of the text is cut.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(status_);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QString::number(kIdProgressBar));
    bar_->setTextVisible(false);
    top->addWidget(bar_);

    auto* buttons = new QHBoxLayout;
    auto named_button = [this](const QString& text, const char* name) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QString::fromUtf8(name));
        button->setAutoDefault(false);
        return button;
    };
    // The finished movie on the left, the job buttons of the dialog on the
    // right with キューに追加 beside 作成, which takes the same settings.
    play_ = named_button(tr("再生(&P)"), "play");
    open_folder_ = named_button(tr("フォルダを開く"), "openFolder");
    queue_add_ = named_button(tr("キューに追加(&Q)"), "queueAdd");
    create_ = Button(this, kIdCreate, tr("作成(&C)"));
    abort_ = Button(this, kIdAbort, tr("中断(&A)"));
    exit_ = Button(this, kIdExit, tr("終了(&X)"));
    buttons->addWidget(play_);
    buttons->addWidget(open_folder_);
    buttons->addStretch(1);
    buttons->addWidget(queue_add_);
    buttons->addWidget(create_);
    buttons->addWidget(abort_);
    buttons->addWidget(exit_);
    top->addLayout(buttons);

    queue_ = new CJobQueuePanel(this, controller_->Queue());
    queue_->setMinimumHeight(du.Y(60));
    top->addWidget(queue_, 1);

    resize(du.X(350), du.Y(470));
}
