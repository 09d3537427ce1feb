// Saves pictures of the main window for the documentation: the server page, the progress page
// with a few rows, the same page during a run (the progress line, a large file's percent), and a
// test build over its logo. Usage: gui_screenshot <output folder>.
// The logo it draws is saved there too (Logo.jpg), for demo package folders.
#include <unistd.h>

#include <QApplication>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "JpegWriter.h"
#include "gui/QtText.h"
#include "gui/TfrmPrincipal.h"
#include "platform/Text.h"

namespace {

namespace fs = std::filesystem;

QImage DrawLogo() {
    QImage image(510, 73, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 510, 73);
    sky.setColorAt(0, QColor(0x0B, 0x2A, 0x5B));
    sky.setColorAt(1, QColor(0x1F, 0x6F, 0xC8));
    p.fillRect(image.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(QPointF(470, 10), 70, 70);
    QFont title;
    title.setFamilies({"DejaVu Sans"});
    title.setPixelSize(22);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 8, 492, 36), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Brevant Sistemas"));
    QFont sub = title;
    sub.setPixelSize(12);
    sub.setBold(false);
    p.setFont(sub);
    p.setPen(QColor(0xD6, 0xE6, 0xFA));
    p.drawText(QRect(0, 44, 492, 18), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Atualizador de sistemas"));
    return image;
}

void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

bool Save(ab::TfrmPrincipal& w, const fs::path& path) {
    w.show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    const bool ok = w.grab().save(QString::fromStdString(path.string()), "PNG");
    std::printf("%s %s\n", ok ? "saved" : "FAILED", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const fs::path out = fs::absolute(argv[1]);
    const fs::path work = fs::temp_directory_path() / ("ab-shot-" + std::to_string(getpid()));
    fs::create_directories(work / "bin");
    fs::create_directories(work / "root/etc");
    fs::create_directories(work / "root/mnt/zv-rede/Sistemas/Testes");
    std::ofstream(work / "root/etc/zv.ini") << "[zv]\n";
    const std::vector<std::uint8_t> logo =
        ab::test::EncodeJpeg(DrawLogo(), ab::test::JpegKind::Rgb, 92);
    Write(work / "bin/Logo.jpg", logo);
    Write(out / "Logo.jpg", logo);

    const std::u16string program = ab::FromUtf8((work / "bin/AtualizadorBrevant").string());
    // The progress line's clock, stopped where the picture wants it.
    auto now = std::chrono::steady_clock::time_point(std::chrono::hours(100));
    auto start = [&](const char* flag) {
        const std::vector<std::u16string> args = {u"Brevant Gest\u00E3o - Atualiza\u00E7\u00E3o",
                                                  u"127.0.0.1",
                                                  u"211",
                                                  u"01",
                                                  ab::FromUtf8(flag),
                                                  u"Vr@ndoxT"};
        return std::make_unique<ab::TfrmPrincipal>(
            ab::CommandLine(u"\"" + program + u"\" " + ab::CommandLine::Join(args), program),
            ab::TestEnvironment(work / "root"), nullptr, [&now] { return now; });
    };

    bool ok = true;
    {
        auto w = start("normal");
        ok &= Save(*w, out / "janela.png");
        w->ShowPage(ab::IMainView::Page::Progresso);
        const char16_t* names[] = {u"Sistema.exe", u"Carga.sql", u"Relat\u00F3rio Mensal.rpt",
                                   u"Biblioteca.dll", u"Atualiza.sql"};
        const int icons[] = {1, 1, 1, 2, 0};
        for (int i = 0; i < 5; ++i)
            w->AddRow(names[i], icons[i]);
        ok &= Save(*w, out / "janela-progresso.png");
    }
    {
        // 120 of 10,000 files done in 3 s, a 16 MB file a second and a half on its way.
        auto w = start("normal");
        w->ShowPage(ab::IMainView::Page::Progresso);
        constexpr std::uint64_t MiB = 1024 * 1024;
        w->RunStarted(10000, 400 * MiB);
        for (int i = 0; i < 120; ++i) {
            const std::u16string name = u"Relatorio" + ab::IntToStr(i + 1) + u".rpt";
            const int row = w->AddRow(name, ab::IMainView::IconProcessing);
            w->SetRowIcon(row, ab::IMainView::IconDone);
            w->FileDone({row, name, name, 20 * 1024, {}}, ab::TDesfecho::Enviado);
        }
        const ab::TArquivoEvento grande{w->AddRow(u"Biblioteca.dll", 0),
                                        u"Biblioteca.dll",
                                        u"Padrao\\Biblioteca.dll",
                                        16 * MiB,
                                        {}};
        now += std::chrono::milliseconds(1500);
        w->FileProgress(grande, 0);
        now += std::chrono::milliseconds(1500);
        w->FileProgress(grande, 7 * MiB);
        w->ScrollToRow(grande.Row);
        ok &= Save(*w, out / "janela-andamento.png");
    }
    {
        auto w = start("teste");
        ok &= Save(*w, out / "janela-teste.png");
    }
    {
        // The box of a refused start, grabbed while it waits for its OK.
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            poll.stop();
            for (int i = 0; i < 20; ++i)
                QApplication::processEvents();
            const fs::path path = out / "caixa-acesso.png";
            ok &= box->grab().save(QString::fromStdString(path.string()), "PNG");
            std::printf("saved %s\n", path.c_str());
            box->buttons().first()->click();
        });
        poll.start();
        const std::vector<std::u16string> args = {u"x"};
        ab::TfrmPrincipal w(ab::CommandLine(u"p " + ab::CommandLine::Join(args), program),
                            ab::TestEnvironment(work / "root"));
        ok &= w.Terminated();
    }
    fs::remove_all(work);
    return ok ? 0 : 1;
}
