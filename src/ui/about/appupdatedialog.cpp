#include "appupdatedialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

AppUpdateDialog::AppUpdateDialog(const AppUpdateAlert &alert, QWidget *parent) : QMessageBox(parent), m_alert(alert) {
    setObjectName(QStringLiteral("appUpdateDialog"));
    QString title;
    QString message = alert.message;
    switch (alert.kind) {
    case AppUpdateAlert::Kind::available: {
        title = QStringLiteral("Actualización disponible");
        message = QStringLiteral("Torvel Downloader ") + alert.manifest->version +
                  QStringLiteral(" está disponible. ") + alert.manifest->releaseNotes;
        QPushButton *install =
            addNamedButton(QStringLiteral("Actualizar ahora"), AcceptRole, QStringLiteral("updateNowButton"));
        setEscapeButton(addNamedButton(QStringLiteral("Más tarde"), RejectRole, QStringLiteral("laterButton")));
        setDefaultButton(install);
        connect(install, &QPushButton::clicked, this, [this] { Q_EMIT installRequested(*m_alert.manifest); });
        break;
    }
    case AppUpdateAlert::Kind::information:
        title = QStringLiteral("Torvel Downloader");
        setDefaultButton(addNamedButton(QStringLiteral("Aceptar"), AcceptRole, QStringLiteral("okButton")));
        break;
    case AppUpdateAlert::Kind::failure:
        if (alert.dmgURL) {
            title = QStringLiteral("No se pudo instalar automáticamente");
            QPushButton *download = addNamedButton(QStringLiteral("Descargar paquete"), AcceptRole,
                                                   QStringLiteral("downloadPackageButton"));
            setEscapeButton(addNamedButton(QStringLiteral("Cerrar"), RejectRole, QStringLiteral("closeButton")));
            setDefaultButton(download);
            connect(download, &QPushButton::clicked, this, [this] { Q_EMIT packageRequested(*m_alert.dmgURL); });
        } else {
            title = QStringLiteral("No se pudo actualizar");
            setDefaultButton(addNamedButton(QStringLiteral("Aceptar"), AcceptRole, QStringLiteral("okButton")));
        }
        setIcon(Warning);
        break;
    }
    if (icon() == NoIcon && !QApplication::windowIcon().isNull())
        setIconPixmap(QApplication::windowIcon().pixmap(48));
    setWindowTitle(title);
    setText(title);
    // Release notes and error texts are shown as written, never as markup.
    setInformativeText(QStringLiteral("<p>") +
                       message.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
                       QStringLiteral("</p>"));
    // Release notes read badly in the message box's narrow default column.
    if (auto *informative = findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setMinimumWidth(380);
}

QPushButton *AppUpdateDialog::addNamedButton(const QString &text, ButtonRole role, const QString &objectName) {
    QPushButton *button = addButton(text, role);
    button->setObjectName(objectName);
    return button;
}
