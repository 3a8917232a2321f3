#pragma once
// The zip component's progress dialog, drawn: a label, a bar and a Cancel
// button on a small always-on-top dialog.

#include <QDialog>
#include <functional>

#include "archive/zip_component.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace parevo {

class ProgressDialogWidget final : public QDialog {
    Q_OBJECT
  public:
    ProgressDialogWidget(const QString& caption, std::function<void()> onCancel, QWidget* owner);

    QLabel* Label() const { return m_label; }
    QProgressBar* Bar() const { return m_bar; }
    QPushButton* CancelButton() const { return m_cancel; }

  private:
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
};

// ProgressDialog over a ProgressDialogWidget, for the zip component.
class QtProgressDialog final : public ProgressDialog {
  public:
    QtProgressDialog(const QString& caption, std::function<void()> onCancel, QWidget* owner);
    ~QtProgressDialog() override;

    void Show() override;
    void Hide() override;
    void SetLabel(const std::string& text) override;
    void SetBarMax(int maximum) override;
    void SetBarPosition(int position) override;

    ProgressDialogWidget& Dialog() { return *m_dialog; }

  private:
    ProgressDialogWidget* m_dialog;
};

// A factory for ZipComponent::CreateProgressDialog whose dialogs belong to `owner`.
ProgressDialogFactory QtProgressDialogFactory(const QString& caption, QWidget* owner);

}  // namespace parevo
