#pragma once
// The zip component's progress dialog, drawn: a label, a bar and a Cancel
// button on a small always-on-top dialog.

#include <QDialog>
#include <functional>

#include "archive/Zip.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace parevo {

class ProgressDialog final : public QDialog {
    Q_OBJECT
  public:
    ProgressDialog(const QString& caption, std::function<void()> onCancel, QWidget* owner);

    QLabel* Label() const { return m_label; }
    QProgressBar* Bar() const { return m_bar; }
    QPushButton* CancelButton() const { return m_cancel; }

  private:
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
};

// TProgressForm over a ProgressDialog, for the zip component.
class QtProgressForm final : public TProgressForm {
  public:
    QtProgressForm(const QString& caption, std::function<void()> onCancel, QWidget* owner);
    ~QtProgressForm() override;

    void Show() override;
    void Hide() override;
    void SetLabel(const std::string& text) override;
    void SetBarMax(int maximum) override;
    void SetBarPosition(int position) override;

    ProgressDialog& Dialog() { return *m_dialog; }

  private:
    ProgressDialog* m_dialog;
};

// A factory for TZip::CreateProgressForm whose dialogs belong to `owner`.
ProgressFormFactory QtProgressFormFactory(const QString& caption, QWidget* owner);

}  // namespace parevo
