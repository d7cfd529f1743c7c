// The provider group of the e-mail dialog: controls placed in dialog units below the template's
// fields, the template's OK and Cancel moved below them.
#include "CMailAccount.h"
#include "CMailDlg.h"

#include "CDialogBuilder.h"
#include "CTlsSession.h"
#include "LocalText.h"
#include "ResourceIds.h"
#include "UserPrompts.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace {

// Dialog units, as in the template: labels at 18, fields at 88, 154 wide.
constexpr int kGroupTop = 122;
constexpr int kGrowth = 118; // the group's height and the gap below it
constexpr int kLabelX = 18;
constexpr int kFieldX = 88;
constexpr int kFieldWidth = 154;
constexpr int kRowHeight = 18;
constexpr int kEditHeight = 14;

constexpr const char* kStoreAvailable = "The password is kept in the desktop's secret store.";
constexpr const char* kStoreUnavailable =
    "No secret store (Secret Service) is available: the password is not kept after Pulsewick ends.";
constexpr const char* kStoreUnknown = "Asking the desktop's secret store...";
constexpr const char* kCertificateFilter = "Certificates (*.pem *.crt);;All files (*)";

const std::pair<SmtpSecurity, const char*> kSecurityChoices[] = {
    {SmtpSecurity::None, "None"},
    {SmtpSecurity::StartTls, "STARTTLS"},
    {SmtpSecurity::Tls, "TLS"},
};

} // namespace

void CMailDlg::AddProviderGroup() {
    const QSize base = CDialogBuilder::BaseUnits(font());
    auto place = [&base](QWidget* widget, int x, int y, int cx, int cy) {
        widget->setGeometry(CDialogBuilder::MapDialogRect(QRect(x, y, cx, cy), base));
        widget->show();
    };
    auto label = [&](const char* text, int x, int y, int cx, QWidget* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setBuddy(buddy);
        place(l, x, y + 3, cx, 8);
    };

    setFixedSize(CDialogBuilder::MapDialogRect(QRect(0, 0, Template().cx, Template().cy + kGrowth), base).size());
    for (const int id : {res::IDOK, res::IDCANCEL}) {
        if (QWidget* button = GetDlgItem(id))
            button->move(button->x(),
                         button->y() + CDialogBuilder::MapDialogRect(QRect(0, 0, 0, kGrowth), base).height());
    }

    auto* group = new QGroupBox(QStringLiteral("Mail provider (kept in your settings, not in the list)"), this);
    place(group, 7, kGroupTop, 235, kGrowth - 8);
    group->lower();

    int y = kGroupTop + 14;
    m_port = new QSpinBox(this);
    m_port->setObjectName(QString::fromLatin1(kPortName));
    m_port->setRange(1, 65535);
    label("Port:", kLabelX, y, 60, m_port);
    place(m_port, kFieldX, y, 44, kEditHeight);
    m_security = new QComboBox(this);
    m_security->setObjectName(QString::fromLatin1(kSecurityName));
    for (const auto& [security, text] : kSecurityChoices)
        m_security->addItem(QString::fromLatin1(text), static_cast<int>(security));
    label("Security:", 140, y, 32, m_security);
    place(m_security, 174, y, 68, kEditHeight);
    // The usual port goes with the choice, unless the user typed another one.
    connect(m_security, &QComboBox::activated, this, [this] {
        m_bSecurityChosen = true;
        const auto security = static_cast<SmtpSecurity>(m_security->currentData().toInt());
        const int usual[] = {SmtpOptions::kDefaultPort, SmtpOptions::kDefaultSubmissionPort,
                             SmtpOptions::kDefaultTlsPort};
        if (std::find(std::begin(usual), std::end(usual), m_port->value()) != std::end(usual))
            m_port->setValue(usual[static_cast<int>(security)]);
        ShowStoreState(); // a setting that could not be read is replaced now
    });

    y += kRowHeight;
    m_user = new QLineEdit(this);
    m_user->setObjectName(QString::fromLatin1(kUserName));
    m_user->setPlaceholderText(QStringLiteral("empty: no login"));
    label("User name:", kLabelX, y, 64, m_user);
    place(m_user, kFieldX, y, kFieldWidth, kEditHeight);

    y += kRowHeight;
    m_password = new QLineEdit(this);
    m_password->setObjectName(QString::fromLatin1(kPasswordName));
    m_password->setEchoMode(QLineEdit::Password);
    label("Password:", kLabelX, y, 64, m_password);
    place(m_password, kFieldX, y, kFieldWidth, kEditHeight);

    y += kRowHeight;
    m_caFile = new QLineEdit(this);
    m_caFile->setObjectName(QString::fromLatin1(kCaFileName));
    m_caFile->setPlaceholderText(QStringLiteral("system's trusted certificates only"));
    label("Trusted certificate:", kLabelX, y, 68, m_caFile);
    place(m_caFile, kFieldX, y, kFieldWidth - 44, kEditHeight);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QString::fromLatin1(kCaBrowseName));
    place(browse, kFieldX + kFieldWidth - 40, y, 40, kEditHeight);
    connect(browse, &QPushButton::clicked, this, [this] {
        ui::FileDialogRequest request;
        request.filter = QString::fromLatin1(kCertificateFilter);
        request.title = QStringLiteral("Trusted Certificate for the Mail Server");
        if (!m_caFile->text().isEmpty())
            request.directory = QFileInfo(m_caFile->text()).path();
        const QString path = ui::Prompts().GetFileName(this, request);
        if (path.isEmpty())
            return;
        // Said now rather than by the first alert that needs it.
        if (const std::string failure = CTlsSession::CheckCertificateFile(ui::ToLocal(path)); failure.empty()) {
            m_caFile->setText(path);
        } else {
            QString text = ui::FromLocal(failure) + QLatin1Char('.');
            text[0] = text[0].toUpper(); // a sentence of its own here
            ui::ShowMessage(this, text, ui::MessageIcon::warning);
        }
    });

    y += kRowHeight;
    m_storeNote = new QLabel(this);
    m_storeNote->setObjectName(QString::fromLatin1(kStoreNoteName));
    m_storeNote->setWordWrap(true);
    place(m_storeNote, kLabelX, y, 224, 18);

    // Tab order: the template's fields, then the group, then OK and Cancel.
    QWidget* previous = GetDlgItem(res::IDC_MAIL_SUBJECT);
    for (QWidget* next : std::initializer_list<QWidget*>{m_port, m_security, m_user, m_password, m_caFile, browse}) {
        if (previous)
            setTabOrder(previous, next);
        previous = next;
    }
}

void CMailDlg::ShowStoreState() {
    // Until a security is chosen, why none is shown matters more than the store.
    if (const std::string problem = m_pAccount->Options().unusable;
        !problem.empty() && m_security->currentIndex() < 0) {
        m_storeNote->setText(QString::fromStdString(problem));
        return;
    }
    switch (m_pAccount->StoreState()) {
    case CMailAccount::SecretStore::Available:
        m_storeNote->setText(QString::fromLatin1(kStoreAvailable));
        break;
    case CMailAccount::SecretStore::Unavailable:
        m_storeNote->setText(QString::fromLatin1(kStoreUnavailable));
        break;
    case CMailAccount::SecretStore::Unknown:
        m_storeNote->setText(QString::fromLatin1(kStoreUnknown));
        break;
    }
}

SmtpOptions CMailDlg::ProviderOptions() const {
    SmtpOptions options;
    options.port = static_cast<std::uint16_t>(m_port->value());
    options.security = static_cast<SmtpSecurity>(m_security->currentData().toInt());
    options.user = m_user->text().trimmed().toStdString();
    options.password = options.user.empty() ? std::string() : m_password->text().toStdString();
    options.caFile = m_caFile->text().trimmed().toStdString();
    return options;
}
