#include "PrikazovyRadek.h"

#include "Dekl.h"
#include "Interfaces.h"
#include "kv_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <dlfcn.h>
#include <iostream>

namespace {

void NastavParser(QCommandLineParser& Parser) {
    Parser.setApplicationDescription(
        "Set-up and monitoring tool for the KV-618 digital I/O module and its KV-619 counter extension.\n"
        "Settings file: " + QString::fromStdString(CestaNastaveni()));
    Parser.addHelpOption();
    Parser.addVersionOption();
    Parser.addOption({"settings", "Use FILE as the settings file instead of the usual one.", "FILE"});
}

// Version of one library, read from its _Version entry; empty when the
// library cannot be loaded or lacks the entry.
std::string VerzeKnihovny(const std::string& Cesta, const std::string& Prefix) {
    void* knihovna = ::dlopen(Cesta.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!knihovna) return {};
    using TVersion = int32_t (*)();
    std::string text;
    if (const auto verze = reinterpret_cast<TVersion>(::dlsym(knihovna, (Prefix + "_Version").c_str()))) {
        const int32_t kod = verze();
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%X.%02X", static_cast<unsigned>(kod >> 8) & 0xFFu,
                      static_cast<unsigned>(kod) & 0xFFu);
        text = buffer;
    }
    ::dlclose(knihovna);
    return text;
}

}  // namespace

std::string TextVerze() {
    std::string text = "R_IV618 " KV_VERSION "\nInterface libraries:\n";
    for (const kv618::Interface& rozhrani : kv618::Interfaces) {
        const std::string jmeno = rozhrani.libraryFile;
        const std::string prefix = rozhrani.prefix;
        const std::string vedle = SlozkaProgramu() + "/" + jmeno;
        // The binding looks beside the program first, then where the system looks.
        std::string verze = VerzeKnihovny(vedle, prefix);
        std::string kde = vedle;
        if (verze.empty()) {
            verze = VerzeKnihovny(jmeno, prefix);
            kde = "from the system's library path";
        }
        if (verze.empty()) {
            verze = "missing";
            kde = "not beside the program (" + SlozkaProgramu() + ") nor on the library path";
        }
        text += "  " + jmeno + std::string(14 - jmeno.size(), ' ') + verze + "  " + kde + "\n";
    }
    text += "Settings file: " + CestaNastaveni() + "\n";
    return text;
}

std::optional<int> PredbeznyPrikazovyRadek(int argc, char* argv[]) {
    // Qt's own options (-platform, -style ...) are unknown here and wait for
    // the second reading, after the application has taken them.
    QCoreApplication jadro(argc, argv);
    QCommandLineParser parser;
    NastavParser(parser);
    parser.parse(jadro.arguments());
    if (parser.isSet("help")) parser.showHelp(0);
    if (parser.isSet("version")) {
        std::cout << TextVerze();
        return 0;
    }
    return std::nullopt;
}

std::optional<int> PrectiPrikazovyRadek(const QCoreApplication& Aplikace, TPrikazovyRadek& Vysledek) {
    QCommandLineParser parser;
    NastavParser(parser);
    if (!parser.parse(Aplikace.arguments())) {
        std::cerr << "R_IV618: " << parser.errorText().toStdString() << "\n"
                  << "Try 'R_IV618 --help'." << std::endl;
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::cerr << "R_IV618: unexpected argument '" << parser.positionalArguments().first().toStdString()
                  << "'\nTry 'R_IV618 --help'." << std::endl;
        return 2;
    }
    if (parser.isSet("settings")) {
        const QString soubor = parser.value("settings");
        if (soubor.isEmpty()) {
            std::cerr << "R_IV618: --settings needs a file name" << std::endl;
            return 2;
        }
        Vysledek.Nastaveni = QFileInfo(soubor).absoluteFilePath().toStdString();
    }
    return std::nullopt;
}

void ZavriAzBudeVidetZadaLiSeTo(QWidget& Okno) {
    if (!qEnvironmentVariableIsSet("R_IV618_QUIT_WHEN_SHOWN")) return;
    auto* casovac = new QTimer(&Okno);
    casovac->setInterval(5);
    QObject::connect(casovac, &QTimer::timeout, &Okno, [&Okno, casovac] {
        if (!Okno.windowHandle() || !Okno.windowHandle()->isExposed()) return;
        casovac->stop();
        Okno.close();
    });
    casovac->start();
}
