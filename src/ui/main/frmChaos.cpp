#include "frmChaos.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "QtLatin1.h"

namespace {

constexpr const char* TitleText = "Failure replies";
constexpr const char* EnabledCaption = "Answer these steps with failure replies";
constexpr const char* ExplanationText
    = "Each step is refused with its code as often as its probability says; a refused message is not kept.";
constexpr const char* StepHeading = "Step";
constexpr const char* CodeHeading = "Reply code";
constexpr const char* ProbabilityHeading = "Probability";
constexpr const char* PercentSuffix = " %";
// The command each step answers, in the order of ChaosTriggers::Steps.
constexpr std::array<const char*, 4> StepCaptions{"Sender (MAIL FROM)", "Recipient (RCPT TO)",
                                                  "Data (after the message)", "Authentication (AUTH)"};

} // namespace

frmChaos::frmChaos(ChaosTriggers& chaos, QWidget* parent) : QDialog(parent), m_chaos(chaos)
{
    setObjectName(QStringLiteral("frmChaos"));
    setWindowTitle(fromLatin1(TitleText));
    auto* layout = new QVBoxLayout(this);
    m_enabled = new QCheckBox(fromLatin1(EnabledCaption));
    m_enabled->setObjectName(QStringLiteral("chkChaosEnabled"));
    m_enabled->setChecked(chaos.enabled());
    layout->addWidget(m_enabled);
    auto* explanation = new QLabel(fromLatin1(ExplanationText));
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(fromLatin1(StepHeading)), 0, 0);
    grid->addWidget(new QLabel(fromLatin1(CodeHeading)), 0, 1);
    grid->addWidget(new QLabel(fromLatin1(ProbabilityHeading)), 0, 2);
    for (ChaosStep step : ChaosTriggers::Steps) {
        const auto row = int(step) + 1;
        const QString name = QString::fromLatin1(ChaosTriggers::stepName(step));
        auto* caption = new QLabel(fromLatin1(StepCaptions[std::size_t(step)]));
        auto* code = new QSpinBox;
        code->setObjectName(QStringLiteral("spnCode") + name);
        code->setRange(ChaosTriggers::MinCode, ChaosTriggers::MaxCode);
        code->setValue(chaos.trigger(step).errorCode);
        auto* probability = new QSpinBox;
        probability->setObjectName(QStringLiteral("spnProbability") + name);
        probability->setRange(0, ChaosTriggers::MaxProbability);
        probability->setSuffix(fromLatin1(PercentSuffix));
        probability->setValue(chaos.trigger(step).probability);
        caption->setBuddy(code);
        grid->addWidget(caption, row, 0);
        grid->addWidget(code, row, 1);
        grid->addWidget(probability, row, 2);
        m_codes[std::size_t(step)] = code;
        m_probabilities[std::size_t(step)] = probability;
    }
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &frmChaos::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &frmChaos::reject);
    layout->addWidget(buttons);
}

void frmChaos::accept()
{
    m_chaos.setEnabled(m_enabled->isChecked());
    for (ChaosStep step : ChaosTriggers::Steps)
        m_chaos.set(step, {spnCode(step)->value(), spnProbability(step)->value()});
    QDialog::accept();
}
