#pragma once

#include <array>

#include <QDialog>

#include "ChaosTriggers.h"

class QCheckBox;
class QSpinBox;

// Control > Failure replies: the steps the server refuses on demand, with their codes and
// probabilities. OK applies them to the listener's triggers; Cancel leaves them.
class frmChaos final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmChaos)
public:
    frmChaos(ChaosTriggers& chaos, QWidget* parent = nullptr);

    QCheckBox* chkChaosEnabled() const { return m_enabled; }
    QSpinBox* spnCode(ChaosStep step) const { return m_codes[std::size_t(step)]; }
    QSpinBox* spnProbability(ChaosStep step) const { return m_probabilities[std::size_t(step)]; }

    void accept() override;

private:
    ChaosTriggers& m_chaos;
    QCheckBox* m_enabled = nullptr;
    std::array<QSpinBox*, ChaosTriggers::Steps.size()> m_codes{};
    std::array<QSpinBox*, ChaosTriggers::Steps.size()> m_probabilities{};
};
