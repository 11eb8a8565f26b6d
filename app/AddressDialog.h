#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vemlis {

// Says why the list of episodes could not be loaded and offers its address to change: "Try
// again" (Enter) tries what the field holds, "Close" (Esc) ends the program. Opens with the
// address selected, so that typing replaces it.
class AddressDialog final : public QDialog {
    Q_OBJECT
public:
    AddressDialog(const QString& reason, const QString& address, QWidget* parent = nullptr);
    QString address() const;

    QLabel* reason;
    QLineEdit* addressEdit;
    QPushButton* tryAgain;
    QPushButton* closeButton;

public slots:
    // Refused, with the reason in place, for anything but an http:// or https:// address.
    void accept() override;
};

}  // namespace vemlis
