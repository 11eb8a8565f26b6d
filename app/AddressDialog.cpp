#include "AddressDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/DataFolder.h"

namespace vemlis {

AddressDialog::AddressDialog(const QString& text, const QString& address, QWidget* parent) : QDialog(parent) {
    setObjectName("addressDialog");
    setWindowTitle(tr("Vemlis loader"));
    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    reason = new QLabel(text, this);
    reason->setObjectName("reason");
    reason->setTextFormat(Qt::PlainText);
    reason->setWordWrap(true);
    reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reason->setFocusPolicy(Qt::NoFocus);  // read as the dialog's description, no Tab stop
    auto* caption = new QLabel(tr("&Address of the list of episodes:"), this);
    addressEdit = new QLineEdit(address, this);
    addressEdit->setObjectName("address");
    addressEdit->setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    caption->setBuddy(addressEdit);
    // Read by screen readers as the dialog's text, as a message box's is.
    setAccessibleDescription(text);

    auto* buttons = new QDialogButtonBox(this);
    tryAgain = buttons->addButton(tr("&Try again"), QDialogButtonBox::AcceptRole);
    tryAgain->setObjectName("tryAgain");
    closeButton = buttons->addButton(tr("&Close"), QDialogButtonBox::RejectRole);
    closeButton->setObjectName("close");
    tryAgain->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddressDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->addWidget(reason);
    words->addSpacing(fontMetrics().height() / 2);
    words->addWidget(caption);
    words->addWidget(addressEdit);
    top->addLayout(words, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    addressEdit->setFocus();
    addressEdit->selectAll();
}

QString AddressDialog::address() const { return addressEdit->text().trimmed(); }

void AddressDialog::accept() {
    if (!isCatalogueAddress(address().toStdString())) {
        reason->setText(QString::fromStdString(notCatalogueAddress(address().toStdString())));
        setAccessibleDescription(reason->text());
        addressEdit->setFocus();
        addressEdit->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace vemlis
