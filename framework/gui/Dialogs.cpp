#include "framework/gui/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "framework/gui/QtBridge_p.h"

namespace {

struct NamedColor {
  const char* name;
  TColor color;
};

constexpr NamedColor kColors[] = {
    {"Черный", clBlack},      {"Бордовый", clMaroon},  {"Зеленый", clGreen},
    {"Оливковый", clOlive},   {"Темно-синий", clNavy}, {"Фиолетовый", clPurple},
    {"Сине-зеленый", clTeal}, {"Серый", clGray},       {"Серебристый", clSilver},
    {"Красный", clRed},       {"Лайм", clLime},        {"Желтый", clYellow},
    {"Синий", clBlue},        {"Фуксия", clFuchsia},   {"Голубой", clAqua},
    {"Белый", clWhite},
};

struct NamedCharset {
  const char* name;
  TFontCharset charset;
};

constexpr NamedCharset kScripts[] = {
    {"Кириллический", RUSSIAN_CHARSET},
    {"Западный", ANSI_CHARSET},
    {"Центральноевропейский", EASTEUROPE_CHARSET},
    {"Греческий", GREEK_CHARSET},
    {"Турецкий", TURKISH_CHARSET},
    {"Балтийский", BALTIC_CHARSET},
};

constexpr int kSizes[] = {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

enum StyleIndex { kRegular, kItalic, kBold, kBoldItalic };

// The font chooser. It starts from a TFont, and on confirmation writes the
// choice back under the rules of TFontDialog.
class KvFontDialog : public QDialog {
 public:
  KvFontDialog(QWidget* parent, const TFont& start) : QDialog(parent) {
    setObjectName("fontDialog");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8("Шрифт"));
    initial_face_ = ToQString(start.Name());
    initial_color_ = start.Color();
    initial_charset_ = start.Charset();

    face_ = new QComboBox(this);
    face_->setObjectName("fontFace");
    face_->setEditable(true);
    face_->setInsertPolicy(QComboBox::NoInsert);
    QStringList families = QFontDatabase::families();
    if (!families.contains(initial_face_)) families.append(initial_face_);
    families.sort(Qt::CaseInsensitive);
    face_->addItems(families);
    face_->setCurrentText(initial_face_);

    style_ = new QComboBox(this);
    style_->setObjectName("fontStyle");
    style_->addItems({QString::fromUtf8("Обычный"), QString::fromUtf8("Курсив"),
                      QString::fromUtf8("Полужирный"), QString::fromUtf8("Полужирный курсив")});
    bool bold = (start.Style() & fsBold) != 0;
    bool italic = (start.Style() & fsItalic) != 0;
    style_->setCurrentIndex(bold ? (italic ? kBoldItalic : kBold) : (italic ? kItalic : kRegular));

    size_ = new QComboBox(this);
    size_->setObjectName("fontSize");
    size_->setEditable(true);
    size_->setInsertPolicy(QComboBox::NoInsert);
    for (int points : kSizes) size_->addItem(QString::number(points));
    size_->setCurrentText(QString::number(start.Size()));

    strike_out_ = new QCheckBox(QString::fromUtf8("Зачеркнутый"), this);
    strike_out_->setObjectName("fontStrikeOut");
    strike_out_->setChecked((start.Style() & fsStrikeOut) != 0);
    underline_ = new QCheckBox(QString::fromUtf8("Подчеркнутый"), this);
    underline_->setObjectName("fontUnderline");
    underline_->setChecked((start.Style() & fsUnderline) != 0);

    color_ = new QComboBox(this);
    color_->setObjectName("fontColor");
    int color_index = 0;  // a system colour shows as black, as text does
    for (const NamedColor& named : kColors) {
      QPixmap swatch(12, 12);
      swatch.fill(ToQColor(named.color));
      color_->addItem(QIcon(swatch), QString::fromUtf8(named.name), named.color);
      if (named.color == initial_color_) color_index = color_->count() - 1;
    }
    color_->setCurrentIndex(color_index);

    script_ = new QComboBox(this);
    script_->setObjectName("fontScript");
    int script_index = 0;  // the default character set here is Cyrillic
    for (const NamedCharset& named : kScripts) {
      script_->addItem(QString::fromUtf8(named.name), static_cast<int>(named.charset));
      if (named.charset == initial_charset_) script_index = script_->count() - 1;
    }
    script_->setCurrentIndex(script_index);

    sample_ = new QLabel(QString::fromUtf8("АаБбЯя AaBbYyZz"), this);
    sample_->setObjectName("fontSample");
    sample_->setTextFormat(Qt::PlainText);
    sample_->setAlignment(Qt::AlignCenter);
    sample_->setMinimumSize(200, 48);
    sample_->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("fontButtons");
    buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("ОК"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QString::fromUtf8("Шрифт:"), this), 0, 0);
    grid->addWidget(new QLabel(QString::fromUtf8("Начертание:"), this), 0, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("Размер:"), this), 0, 2);
    grid->addWidget(face_, 1, 0);
    grid->addWidget(style_, 1, 1);
    grid->addWidget(size_, 1, 2);
    grid->setColumnStretch(0, 3);

    auto* effects = new QGroupBox(QString::fromUtf8("Видоизменение"), this);
    auto* effects_layout = new QVBoxLayout(effects);
    effects_layout->addWidget(strike_out_);
    effects_layout->addWidget(underline_);
    effects_layout->addWidget(new QLabel(QString::fromUtf8("Цвет:"), effects));
    effects_layout->addWidget(color_);

    auto* sample_box = new QGroupBox(QString::fromUtf8("Образец"), this);
    auto* sample_layout = new QVBoxLayout(sample_box);
    sample_layout->addWidget(sample_);
    sample_layout->addWidget(new QLabel(QString::fromUtf8("Набор символов:"), sample_box));
    sample_layout->addWidget(script_);

    auto* lower = new QGridLayout;
    lower->addWidget(effects, 0, 0);
    lower->addWidget(sample_box, 0, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(grid);
    layout->addLayout(lower);
    layout->addWidget(buttons);

    connect(color_, &QComboBox::currentIndexChanged, this, [this] { color_changed_ = true; });
    connect(script_, &QComboBox::currentIndexChanged, this, [this] { script_changed_ = true; });
    for (QComboBox* box : {face_, style_, size_, color_}) {
      connect(box, &QComboBox::currentTextChanged, this, [this] { UpdateSample(); });
    }
    for (QCheckBox* box : {strike_out_, underline_}) {
      connect(box, &QCheckBox::toggled, this, [this] { UpdateSample(); });
    }
    UpdateSample();
  }

  // Writes the confirmed choice into font.
  void TakeChoice(TFont& font) const {
    TFont chosen;
    chosen.Assign(&font);
    chosen.SetName(FromQString(face_->currentText()));
    bool ok = false;
    int points = size_->currentText().trimmed().toInt(&ok);
    if (ok && points > 0) chosen.SetSize(points);
    int style_index = style_->currentIndex();
    TFontStyles style = 0;
    if (style_index == kBold || style_index == kBoldItalic) style |= fsBold;
    if (style_index == kItalic || style_index == kBoldItalic) style |= fsItalic;
    if (underline_->isChecked()) style |= fsUnderline;
    if (strike_out_->isChecked()) style |= fsStrikeOut;
    chosen.SetStyle(style);
    if (face_->currentText() != initial_face_ || script_changed_) {
      chosen.SetCharset(static_cast<TFontCharset>(script_->currentData().toInt()));
    }
    if (color_changed_) chosen.SetColor(static_cast<TColor>(color_->currentData().toInt()));
    font.Assign(&chosen);
  }

 private:
  void UpdateSample() {
    QFont font(face_->currentText());
    bool ok = false;
    int points = size_->currentText().trimmed().toInt(&ok);
    font.setPixelSize(MulDiv(ok && points > 0 ? points : 8, kScreenPixelsPerInch, 72));
    int style_index = style_->currentIndex();
    font.setBold(style_index == kBold || style_index == kBoldItalic);
    font.setItalic(style_index == kItalic || style_index == kBoldItalic);
    font.setUnderline(underline_->isChecked());
    font.setStrikeOut(strike_out_->isChecked());
    sample_->setFont(font);
    QPalette palette = sample_->palette();
    palette.setColor(QPalette::WindowText,
                     ToQColor(color_changed_ ? static_cast<TColor>(color_->currentData().toInt())
                                             : initial_color_));
    sample_->setPalette(palette);
  }

  QString initial_face_;
  TColor initial_color_;
  TFontCharset initial_charset_;
  QComboBox* face_;
  QComboBox* style_;
  QComboBox* size_;
  QCheckBox* strike_out_;
  QCheckBox* underline_;
  QComboBox* color_;
  QComboBox* script_;
  QLabel* sample_;
  bool color_changed_ = false;
  bool script_changed_ = false;
};

}  // namespace

TFontDialog::TFontDialog(TComponent* owner) : TComponent(owner) {}

bool TFontDialog::Execute() {
  KvFontDialog dialog(QApplication::activeWindow(), font_);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.TakeChoice(font_);
  return true;
}
