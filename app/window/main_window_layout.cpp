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
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/window/main_window.h"
#include "app/window/path_field.h"
#include "app/window/source_page.h"
#include "jobs/control_ids.h"

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

QString T(const char* text) { return QString::fromUtf8(text); }

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

QPushButton* Button(QWidget* parent, uint32_t id, const char* text) {
    auto* button = new QPushButton(T(text), parent);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

QGroupBox* Group(QWidget* parent, const char* title) { return new QGroupBox(T(title), parent); }

QFormLayout* Form(QWidget* parent) {
    auto* form = new QFormLayout(parent);
    form->setLabelAlignment(Qt::AlignLeft);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setVerticalSpacing(3);
    form->setContentsMargins(6, 4, 6, 4);
    return form;
}

}  // namespace

void CMainWindow::BuildControls() {
    QFont font(T("Noto Sans CJK JP"), 9);
    setFont(font);
    const DialogUnits du(font);
    const int number_width = du.X(36);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    top->setSpacing(du.Y(3));

    tab_ = new QTabWidget(this);
    tab_->setObjectName(QString::number(kIdSourceTab));
    pages_ = {CreateMoviePage(this), CreateImagePage(this), CreateAviPage(this)};
    tab_->addTab(pages_[0], T("DirectShowからのエンコード"));
    tab_->addTab(pages_[1], T("連番ファイルからのエンコード"));
    tab_->addTab(pages_[2], T("AVIファイルからのエンコード"));
    for (CSourcePage* page : pages_) page->setMinimumSize(du.X(330), du.Y(75));
    tab_->setCurrentIndex(0);
    top->addWidget(tab_);

    top->addWidget(new QLabel(T("出力ファイル"), this));
    auto* output_row = new QHBoxLayout;
    auto* output = new CPathField(this);
    output->setObjectName(QString::number(kIdOutputFile));
    output_row->addWidget(output, 1);
    output_row->addWidget(Button(this, kIdOutputBrowse, "参照(&O)"));
    top->addLayout(output_row);

    QGroupBox* picture = Group(this, "画像符号化設定");
    auto* picture_grid = new QGridLayout(picture);
    picture_grid->setContentsMargins(6, 4, 6, 6);

    QGroupBox* options = Group(picture, "画像オプション");
    QFormLayout* options_form = Form(options);
    options_form->addRow(T("画像形式"), List(options, kIdPictureFormat));
    options_form->addRow(T("符号化方式"), List(options, kIdTransform));
    picture_grid->addWidget(options, 0, 0);

    QGroupBox* rate = Group(picture, "フレームレート");
    auto* rate_layout = new QVBoxLayout(rate);
    rate_layout->setContentsMargins(6, 4, 6, 4);
    rate_layout->setSpacing(3);
    rate_layout->addWidget(List(rate, kIdFrameRate));
    auto* fraction = new QHBoxLayout;
    fraction->addWidget(NumberField(rate, kIdFrameRateNumerator, number_width + du.X(8)));
    fraction->addWidget(new QLabel(T("/"), rate));
    fraction->addWidget(NumberField(rate, kIdFrameRateDenominator, number_width));
    fraction->addWidget(new QLabel(T("fps"), rate));
    fraction->addStretch(1);
    rate_layout->addLayout(fraction);
    picture_grid->addWidget(rate, 0, 1);

    QGroupBox* gop = Group(picture, "GOP構造");
    QFormLayout* gop_form = Form(gop);
    gop_form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    gop_form->addRow(T("GOP内のPフレーム数"), NumberField(gop, kIdPFrames, number_width));
    gop_form->addRow(T("GOP内のBフレーム数"), NumberField(gop, kIdBFrames, number_width));
    gop_form->addRow(T("シーンチェンジ検出値"), NumberField(gop, kIdSceneChange, number_width));
    picture_grid->addWidget(gop, 1, 0);

    QGroupBox* quant = Group(picture, "量子化");
    QFormLayout* quant_form = Form(quant);
    quant_form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    QComboBox* matrix = List(quant, kIdQuantMatrix);
    quant_form->addRow(T("量子化行列"), matrix);
    quant_form->addRow(T("Iフレームの品質"), NumberField(quant, kIdQualityI, number_width));
    quant_form->addRow(T("Pフレームの品質"), NumberField(quant, kIdQualityP, number_width));
    quant_form->addRow(T("Bフレームの品質"), NumberField(quant, kIdQualityB, number_width));
    picture_grid->addWidget(quant, 1, 1);
    picture_grid->setColumnStretch(0, 1);
    picture_grid->setColumnStretch(1, 1);
    top->addWidget(picture);

    QGroupBox* sound = Group(this, "音楽符号化設定");
    auto* sound_row = new QHBoxLayout(sound);
    sound_row->setContentsMargins(6, 4, 6, 6);
    sound_row->addWidget(new QLabel(T("符号化方式"), sound));
    sound_row->addWidget(List(sound, kIdSoundMethod), 1);
    sound_row->addSpacing(du.X(12));
    sound_row->addWidget(new QLabel(T("ブロックサイズ"), sound));
    sound_row->addWidget(NumberField(sound, kIdAudioBlockSize, number_width + du.X(8)));
    sound_row->addStretch(1);
    top->addWidget(sound);

    auto* status = new QLabel(this);
    status->setObjectName(QString::number(kIdStatusLine));
    status->setMinimumWidth(du.X(100));
    // A long path must not widen the window; the end of the text is cut.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(status);
    auto* bar = new QProgressBar(this);
    bar->setObjectName(QString::number(kIdProgressBar));
    bar->setTextVisible(false);
    top->addWidget(bar);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button(this, kIdCreate, "作成(&C)"));
    buttons->addWidget(Button(this, kIdAbort, "中断(&A)"));
    buttons->addWidget(Button(this, kIdExit, "終了(&X)"));
    top->addLayout(buttons);

    resize(du.X(350), du.Y(350));
}
