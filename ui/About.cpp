#include "ui/About.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/Controls.h"
#include "ui/Texts.h"

#ifndef DLT_VERSION
#define DLT_VERSION "0.0.0"
#endif

namespace {
constexpr char ReleaseDate[] = "2026-12-09";
constexpr char Maker[] = "DLT645 Workbench developers";
}  // namespace

std::string RunningTimeText(uint32_t seconds) {
  const uint32_t days = seconds / 86400;
  const uint32_t rest = seconds % 86400;
  const uint32_t hours = rest / 3600;
  const uint32_t minutes = (rest % 3600) / 60;
  const uint32_t secs = rest % 60;
  std::string text;
  if (days > 0) text += std::to_string(days) + Txt::Days;
  if (hours > 0) text += std::to_string(hours) + Txt::Hours;
  if (minutes > 0) text += std::to_string(minutes) + Txt::Minutes;
  text += std::to_string(secs) + Txt::Seconds;
  return text;
}

TfrmAbout::TfrmAbout(QWidget* parent)
    : TBaseForm<QDialog>(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QString::fromUtf8(Txt::AboutCaption));
  setModal(true);

  imgPicture = new QLabel(this);
  imgPicture->setPixmap(DrawPicture(TPicture::AppIcon, 64));
  imgPicture->setFixedSize(64, 64);

  auto label = [this](const QString& text = QString()) {
    auto* l = new QLabel(text, this);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  lbAppName = label();
  QFont titleFont = lbAppName->font();
  titleFont.setBold(true);
  lbAppName->setFont(titleFont);
  lbVersion = label(QString::fromUtf8(Txt::VersionLabel) + QStringLiteral(DLT_VERSION));
  lbRelease = label(QString::fromUtf8(Txt::ReleaseLabel) + QString::fromLatin1(ReleaseDate));
  lbMaker = label(QString::fromLatin1(Maker));
  lbStartTime = label();
  lbRunTime = label();

  btnOK = new QPushButton(QString::fromUtf8(Txt::Ok), this);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  auto* lines = new QVBoxLayout;
  lines->setSpacing(6);
  for (QLabel* l : {lbAppName, lbVersion, lbRelease, lbMaker, lbStartTime, lbRunTime}) lines->addWidget(l);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->setHorizontalSpacing(16);
  layout->addWidget(imgPicture, 0, 0, Qt::AlignTop);
  layout->addLayout(lines, 0, 1);
  layout->addWidget(btnOK, 1, 0, 1, 2, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmAbout::showEvent(QShowEvent* event) {
  lbStartTime->setText(QString::fromUtf8(Txt::StartTimeLabel) + DateTimeToText(StartTime));
  lbRunTime->setText(QString::fromUtf8(Txt::RunTimeLabel) +
                     QString::fromStdString(RunningTimeText(RunSeconds)));
  lbAppName->setText(AppTitle());
  adjustSize();
  CentreOnScreen();
  TBaseForm<QDialog>::showEvent(event);
}
