#include "ui/Prompt.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>

#include "ui/Controls.h"
#include "ui/Texts.h"

TPromptForm* PromptForm = nullptr;

namespace {
constexpr int PromptWidth = 360;
constexpr int PromptHeight = 130;
}  // namespace

TPromptForm::TPromptForm(QWidget* parent)
    : TBaseForm<QDialog>(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("PromptForm"));
  setWindowTitle(QString::fromUtf8(Txt::WarningCaption));
  setModal(true);

  imgWarning = new QLabel(this);
  imgWarning->setPixmap(DrawPicture(TPicture::Warning, 64));
  imgWarning->setFixedSize(64, 64);
  imgInformation = new QLabel(this);
  imgInformation->setPixmap(DrawPicture(TPicture::Information, 64));
  imgInformation->setFixedSize(64, 64);
  imgInformation->hide();

  lbPrompt = new QLabel(this);
  lbPrompt->setObjectName(QStringLiteral("lbPrompt"));
  lbPrompt->setWordWrap(true);
  lbPrompt->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lbPrompt->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  btnOK = new QPushButton(QString::fromUtf8(Txt::Ok), this);
  btnOK->setDefault(true);
  btnOK->setAutoDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  // Both pictures share one place; only one of them is visible.
  auto* pictures = new QGridLayout;
  pictures->addWidget(imgWarning, 0, 0);
  pictures->addWidget(imgInformation, 0, 0);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->setHorizontalSpacing(16);
  layout->addLayout(pictures, 0, 0, Qt::AlignTop);
  layout->addWidget(lbPrompt, 0, 1);
  layout->addWidget(btnOK, 1, 0, 1, 2, Qt::AlignHCenter);
  layout->setColumnStretch(1, 1);

  setFixedSize(PromptWidth, PromptHeight);
  CentreOnScreen();
}

TPromptForm::~TPromptForm() {
  if (PromptForm == this) PromptForm = nullptr;
}

void TPromptForm::SetWarning() {
  setWindowTitle(QString::fromUtf8(Txt::WarningCaption));
  imgWarning->show();
  imgInformation->hide();
}

void TPromptForm::SetText(const QString& text) {
  lbPrompt->setText(text);
  // A long message (a file path, say) grows the box downwards instead of being cut off.
  const int textWidth = PromptWidth - 64 - 16 * 3;
  const int textHeight = lbPrompt->heightForWidth(textWidth);
  setFixedSize(PromptWidth, qMax(PromptHeight, textHeight + 80));
}

void TPromptForm::showEvent(QShowEvent* event) {
  CentreOnScreen();
  TBaseForm<QDialog>::showEvent(event);
}

void ShowPrompt(const QString& text) {
  if (PromptForm) {
    PromptForm->SetWarning();
    PromptForm->SetText(text);
    PromptForm->exec();
    return;
  }
  TPromptForm box;
  box.SetWarning();
  box.SetText(text);
  box.exec();
}
