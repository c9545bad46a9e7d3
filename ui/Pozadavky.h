// What a window asks of the module: carried out by the connection worker,
// one request of a window out at a time, the result back on the window's
// thread with its text for the status bar.
#pragma once

#include "LinkWorker.h"
#include "Module.h"

#include <QString>

#include <cstdint>

// What a live window's request gave: the layer's result, and its text for
// the status bar, " " + the library's text for the code (success included).
template <typename T>
struct TVysledekOkna {
    kv618::Result<T> Vysledek;
    QString Text;
    bool Uspech() const { return Vysledek.ok(); }
};

namespace detail {
inline kv618::Result<bool> JakoVysledek(int32_t Chyba) { return {Chyba, Chyba == 0}; }
template <typename T>
kv618::Result<T> JakoVysledek(kv618::Result<T> Vysledek) { return Vysledek; }
}  // namespace detail

// The requests of one live window, carried out by the connection worker.
// One is out at a time: a tick that comes while one is still out is
// skipped and counted, never queued behind it, so a slow module builds no
// backlog and a recovered one is shown at once.
class TPozadavky {
public:
    // Carries out `Operace` on the module at `Adresa` over the program's
    // link and gives `Potom` its result on the window's thread (unless the
    // window is gone by then).  False when a request of the window is still
    // out (the tick is counted as skipped).
    template <typename W, typename F, typename G>
    bool Posli(W* Okno, uint8_t Adresa, F Operace, G Potom) {
        if (venku_ > 0) {
            ++vynechano_;
            return false;
        }
        Zarad(Okno, Adresa, std::move(Operace), std::move(Potom));
        return true;
    }

    // The same, but behind a request still out instead of instead of it: for
    // what the operator asked for, which must not be lost.
    template <typename W, typename F, typename G>
    void Zarad(W* Okno, uint8_t Adresa, F Operace, G Potom) {
        ++venku_;
        OnWorker(
            Okno,
            [Adresa, Operace = std::move(Operace)](kv618::Connection& Spojeni) {
                const kv618::Module modul = Spojeni.At(Adresa);
                auto vysledek = detail::JakoVysledek(Operace(modul));
                using T = decltype(vysledek.value);
                return TVysledekOkna<T>{vysledek, " " + QString::fromStdString(modul.Text(vysledek.error))};
            },
            [this, Potom = std::move(Potom)](W* okno, const auto& vysledek) {
                --venku_;
                Potom(okno, vysledek);
                if (PoVysledku) PoVysledku();
            });
    }

    // Told after each result has been shown (the fault soak watches by it).
    std::function<void()> PoVysledku;

    bool Venku() const { return venku_ > 0; }
    int Vynechano() const { return vynechano_; }

private:
    int venku_ = 0;
    int vynechano_ = 0;
};
