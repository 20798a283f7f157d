// The Qt port's standard dialogs: the message box (with Ctrl+C copying it, as
// on Windows) and the font chooser.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <vector>

#include "framework/gui/qt/QtPort_p.h"

namespace {

QString DisplayText(std::string_view text) {
  // The box shows CR LF as one line break; a final break adds no empty line.
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    shown.push_back(text[i]);
  }
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
  return qtport::ToQString(shown);
}

// Ctrl+C in a message box copies its caption, text and buttons, as message
// boxes do on Windows: the way a person passes an error on to someone else.
class MessageBoxCopier : public QObject {
 public:
  explicit MessageBoxCopier(QMessageBox* box) : QObject(box), box_(box) {
    box->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == box_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
      const QString rule = QStringLiteral("---------------------------\n");
      QStringList buttons;
      for (QAbstractButton* button : box_->buttons()) buttons << button->text().remove('&');
      QGuiApplication::clipboard()->setText(rule + box_->windowTitle() + "\n" + rule +
                                            box_->text() + "\n" + rule + buttons.join("   ") +
                                            "\n" + rule);
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMessageBox* box_;
};

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
    initial_face_ = qtport::ToQString(start.Name());
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
      swatch.fill(qtport::ToQColor(named.color));
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

  // The confirmed choice, with what the user changed.
  port::FontChoice Choice() const {
    port::FontChoice choice;
    choice.name = qtport::FromQString(face_->currentText());
    bool ok = false;
    int points = size_->currentText().trimmed().toInt(&ok);
    choice.points = ok && points > 0 ? points : 0;
    int style_index = style_->currentIndex();
    if (style_index == kBold || style_index == kBoldItalic) choice.style |= fsBold;
    if (style_index == kItalic || style_index == kBoldItalic) choice.style |= fsItalic;
    if (underline_->isChecked()) choice.style |= fsUnderline;
    if (strike_out_->isChecked()) choice.style |= fsStrikeOut;
    choice.charset = static_cast<TFontCharset>(script_->currentData().toInt());
    choice.color = static_cast<TColor>(color_->currentData().toInt());
    choice.face_changed = face_->currentText() != initial_face_;
    choice.script_changed = script_changed_;
    choice.color_changed = color_changed_;
    return choice;
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
    palette.setColor(
        QPalette::WindowText,
        qtport::ToQColor(color_changed_ ? static_cast<TColor>(color_->currentData().toInt())
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

namespace port {

int RunMessageBox(NativeWidget owner, std::string_view text, std::string_view caption, int flags) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0xF0) {
    case MB_ICONSTOP:
      icon = QMessageBox::Critical;
      break;
    case MB_ICONQUESTION:
      icon = QMessageBox::Question;
      break;
    case MB_ICONWARNING:
      icon = QMessageBox::Warning;
      break;
    case MB_ICONINFORMATION:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  struct Choice {
    QMessageBox::StandardButton button;
    int code;
  };
  std::vector<Choice> choices;
  switch (flags & 0xF) {
    case MB_OKCANCEL:
      choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_ABORTRETRYIGNORE:
      choices = {{QMessageBox::Abort, IDABORT},
                 {QMessageBox::Retry, IDRETRY},
                 {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      choices = {
          {QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO:
      choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
      break;
    case MB_RETRYCANCEL:
      choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    default:
      choices = {{QMessageBox::Ok, IDOK}};
      break;
  }
  QMessageBox::StandardButtons buttons;
  for (const Choice& choice : choices) buttons |= choice.button;
  QMessageBox box(icon, qtport::ToQString(caption), QString(), buttons, owner);
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayText(text));
  box.setObjectName("messageBox");
  // The toolkit's Russian texts keep a Latin "OK"; a Russian Windows, and the
  // font dialog here, write it in Cyrillic.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setText(QString::fromUtf8("ОК"));
  // The exact bytes, for whoever needs more than the shown text.
  box.setProperty("kvText", QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  box.setWindowModality(Qt::ApplicationModal);
  new MessageBoxCopier(&box);
  qtport::ExecStandardDialog(box);
  QAbstractButton* clicked = box.clickedButton();
  for (const Choice& choice : choices) {
    if (clicked != nullptr && box.button(choice.button) == clicked) return choice.code;
  }
  // Closed without a button: the cancel code where there is one, else the only one.
  for (const Choice& choice : choices) {
    if (choice.code == IDCANCEL) return IDCANCEL;
  }
  return choices.size() == 1 ? choices.front().code : IDCANCEL;
}

bool RunFontDialog(const TFont& start, FontChoice& choice) {
  KvFontDialog dialog(QApplication::activeWindow(), start);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (qtport::ExecStandardDialog(dialog) != QDialog::Accepted) return false;
  choice = dialog.Choice();
  return true;
}

}  // namespace port
