#include "server/demo_icons.h"

#include <QList>
#include <QStringList>

#include <array>
#include <stdexcept>

namespace vorel::server::demo {

namespace {

using Art = std::array<const char *, 16>;

struct Rgb { unsigned char r, g, b; };

Rgb colour(char c)
{
    switch (c) {
    case 'k': return {0, 0, 0};
    case 'w': return {255, 255, 255};
    case 'l': return {192, 192, 192};
    case 'g': return {128, 128, 128};
    case 'r': return {224, 32, 32};
    case 'R': return {128, 0, 0};
    case 'G': return {0, 168, 0};
    case 'D': return {0, 96, 0};
    case 'b': return {0, 96, 224};
    case 'B': return {0, 0, 128};
    case 'y': return {255, 224, 0};
    case 'o': return {240, 160, 32};
    case 'n': return {144, 88, 24};
    case 'c': return {128, 224, 255};
    case 's': return {255, 200, 152};
    default: return {255, 0, 255}; // the transparent background
    }
}

using Grid = std::array<std::array<char, 16>, 16>;

Grid grid(const Art &art)
{
    Grid g{};
    for (int y = 0; y < 16; ++y) {
        const QByteArray row(art[y]);
        if (row.size() != 16)
            throw std::logic_error("button art row must be 16 pixels wide");
        for (int x = 0; x < 16; ++x)
            g[y][x] = row[x];
    }
    return g;
}

Grid transposed(const Grid &g)
{
    Grid t{};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            t[y][x] = g[x][y];
    return t;
}

Grid mirroredH(const Grid &g)
{
    Grid t{};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            t[y][x] = g[y][15 - x];
    return t;
}

Grid mirroredV(const Grid &g)
{
    Grid t{};
    for (int y = 0; y < 16; ++y)
        t[y] = g[15 - y];
    return t;
}

void put16(QByteArray &b, quint16 v) { b.append(char(v & 0xff)).append(char(v >> 8)); }
void put32(QByteArray &b, quint32 v) { put16(b, quint16(v & 0xffff)); put16(b, quint16(v >> 16)); }

// Bottom-up rows of blue, green, red; 48 bytes a row needs no padding.
QByteArray bmp(const Grid &g)
{
    const quint32 pixels = 16 * 16 * 3;
    QByteArray b;
    b.append("BM");
    put32(b, 14 + 40 + pixels);
    put32(b, 0);
    put32(b, 14 + 40);
    put32(b, 40);
    put32(b, 16);
    put32(b, 16);
    put16(b, 1);
    put16(b, 24);
    put32(b, 0);
    put32(b, pixels);
    put32(b, 2835);
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
    for (int y = 15; y >= 0; --y)
        for (int x = 0; x < 16; ++x) {
            const Rgb c = colour(g[y][x]);
            b.append(char(c.b)).append(char(c.g)).append(char(c.r));
        }
    return b;
}

const Art kBlank = {"................", "................", "................", "................",
                    "................", "................", "................", "................",
                    "................", "................", "................", "................",
                    "................", "................", "................", "................"};

const Art kDocument = {
    "................", "...kkkkkkkk.....", "...kwwwwwwkk....", "...kwwwwwwklk...",
    "...kwwwwwwkkkk..", "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kwwwwwwwwwk..",
    "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kwwwwwwwwwk..",
    "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kkkkkkkkkkk..", "................"};
const Art kPlus = {
    "................", "................", "......kkkk......", "......kGGk......",
    "......kGGk......", "......kGGk......", "..kkkkkGGkkkkk..", "..kGGGGGGGGGGk..",
    "..kGGGGGGGGGGk..", "..kkkkkGGkkkkk..", "......kGGk......", "......kGGk......",
    "......kGGk......", "......kkkk......", "................", "................"};
const Art kPencil = {
    "................", "............kk..", "...........krrk.", "..........kyyrk.",
    ".........kyyyk..", "........kyyyk...", ".......kyyyk....", "......kyyyk.....",
    ".....kyyyk......", "....kyyyk.......", "...knyyk........", "...kwnk.........",
    "...kkk..........", "..kk............", "................", "................"};
const Art kMinus = {
    "................", "................", "................", "................",
    "................", "................", "..kkkkkkkkkkkk..", "..krrrrrrrrrrk..",
    "..krrrrrrrrrrk..", "..kkkkkkkkkkkk..", "................", "................",
    "................", "................", "................", "................"};
const Art kFunnel = {
    "................", ".kkkkkkkkkkkkkk.", ".kbbbbbbbbbbbbk.", "..kbbbbbbbbbbk..",
    "...kbbbbbbbbk...", "....kbbbbbbk....", ".....kbbbbk.....", "......kbbk......",
    "......kbbk......", "......kbbk......", "......kbbk......", "......kbbk......",
    "......kbbkk.....", "......kbbbk.....", "......kkkkk.....", "................"};
const Art kSort = {
    "................", ".kkk.......B....", "k...k......B....", "kkkkk......B....",
    "k...k......B....", "k...k......B....", "...........B....", "kkkkk......B....",
    "...k.......B....", "..k......BBBBB..", ".k........BBB...", "kkkkk......B....",
    "................", "................", "................", "................"};
const Art kFirst = {
    "................", "................", "................", "...kk......k....",
    "...kk.....kk....", "...kk....kbk....", "...kk...kbbk....", "...kk..kbbbk....",
    "...kk..kbbbk....", "...kk...kbbk....", "...kk....kbk....", "...kk.....kk....",
    "...kk......k....", "................", "................", "................"};
const Art kSigma = {
    "................", "..kkkkkkkkkkk...", "..kk.......kk...", "...kk.......k...",
    "....kk..........", ".....kk.........", "......kk........", ".......kk.......",
    "......kk........", ".....kk.........", "....kk..........", "...kk.......k...",
    "..kk.......kk...", "..kkkkkkkkkkk...", "................", "................"};
const Art kFloppy = {
    "................", ".kkkkkkkkkkkkkk.", ".kBkwwwwwwwwkBk.", ".kBkwwwwwwwwkBk.",
    ".kBkwwwwwwwwkBk.", ".kBkwwwwwwwwkBk.", ".kBkkkkkkkkkkBk.", ".kBBBBBBBBBBBBk.",
    ".kBBkkkkkkkkBBk.", ".kBBkllBBllkBBk.", ".kBBkllBBllkBBk.", ".kBBkllBBllkBBk.",
    ".kBBkllllllkBBk.", ".kBBkkkkkkkkBBk.", ".kkkkkkkkkkkkkk.", "................"};
const Art kFolder = {
    "................", "................", "..kkkkk.........", ".kyyyyyk........",
    ".kyyyyyykkkkkkk.", ".kyyyyyyyyyyyyk.", ".kooooooooooook.", ".kooooooooooook.",
    ".kooooooooooook.", ".kooooooooooook.", ".kooooooooooook.", ".kooooooooooook.",
    ".kooooooooooook.", ".kkkkkkkkkkkkkk.", "................", "................"};
const Art kPrinter = {
    "................", "....kkkkkkkk....", "....kwwwwwwk....", "....kwkkkkwk....",
    "....kwwwwwwk....", ".kkkkkkkkkkkkkk.", "kllllllllllllllk", "kllllllllllllGlk",
    "kllllllllllllllk", "kggggggggggggggk", "kkkkwwwwwwwwkkkk", "...kwkkkkkkwk...",
    "...kwwwwwwwwk...", "...kkkkkkkkkk...", "................", "................"};
const Art kCheck = {
    "................", "................", ".............DD.", "............DGD.",
    "...........DGGD.", "..........DGGD..", ".DD......DGGD...", ".DGD....DGGD....",
    ".DGGD..DGGD.....", "..DGGDDGGD......", "...DGGGGD.......", "....DGGD........",
    ".....DD.........", "................", "................", "................"};
const Art kCross = {
    "................", "................", "..RR........RR..", "..RrR......RrR..",
    "...RrR....RrR...", "....RrR..RrR....", ".....RrRRrR.....", "......RrrR......",
    "......RrrR......", ".....RrRRrR.....", "....RrR..RrR....", "...RrR....RrR...",
    "..RrR......RrR..", "..RR........RR..", "................", "................"};
const Art kRefresh = {
    "................", "......GGGG......", "....GGDDDDGG.G..", "...GD......GGG..",
    "..GD......GGGG..", "..GD............", ".GD.............", ".GD..........DG.",
    ".GD..........DG.", ".............DG.", "............DG..", "..GGGG.....DG...",
    "..GGG.....DG....", "..G.GG..GGDD....", "......GGGG......", "................"};
const Art kNew = {
    "............y...", "...kkkkkkky.y.y.", "...kwwwwwwkyyy..", "...kwwwwwyyyyyyy",
    "...kwwwwwwkyyy..", "...kwwwwwwwy.y.k", "...kwwwwwwwwwy.k", "...kwwwwwwwwwwk.",
    "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kwwwwwwwwwk..",
    "...kwwwwwwwwwk..", "...kwwwwwwwwwk..", "...kkkkkkkkkkk..", "................"};
const Art kSearch = {
    "................", "....kkkkk.......", "...kcwwcck......", "..kcwccccck.....",
    "..kcwccccck.....", "..kccccccck.....", "..kccccccck.....", "...kccccck......",
    "....kkkkkn......", "..........nn....", "...........nn...", "............nn..",
    ".............nn.", "................", "................", "................"};
const Art kHelp = {
    "................", ".....BBBBBB.....", "....BBBBBBBB....", "...BBB....BBB...",
    "...BBB....BBB...", "..........BBB...", ".........BBB....", "........BBB.....",
    ".......BBB......", ".......BBB......", ".......BBB......", "................",
    ".......BBB......", ".......BBB......", "................", "................"};
const Art kCalculator = {
    "................", "...kkkkkkkkkk...", "...kggggggggk...", "...kgwwwwwwgk...",
    "...kgwwwwwwgk...", "...kggggggggk...", "...kgwgwgwggk...", "...kggggggggk...",
    "...kgwgwgwggk...", "...kggggggggk...", "...kgwgwgwggk...", "...kggggggggk...",
    "...kgwgwgrrgk...", "...kggggggggk...", "...kkkkkkkkkk...", "................"};
const Art kKey = {
    "................", "................", "................", "................",
    "..kkkk..........", ".kyyyyk.........", "kyykkyykkkkkkkk.", "kykwwkyyyyyyyyyk",
    "kyykkyykkkkyykyk", ".kyyyyk....kk.k.", "..kkkk..........", "................",
    "................", "................", "................", "................"};
const Art kUser = {
    "................", "......kkkk......", ".....kssssk.....", "....kssssssk....",
    "....kssssssk....", "....kssssssk....", ".....kssssk.....", "......kkkk......",
    "....kkbbbbkk....", "...kbbbbbbbbk...", "..kbbbbbbbbbbk..", "..kbbbbbbbbbbk..",
    "..kbbbbbbbbbbk..", "..kkkkkkkkkkkk..", "................", "................"};
const Art kUsers = {
    "................", "................", "...kkk....kkk...", "..ksssk..ksssk..",
    "..ksssk..ksssk..", "...kkk....kkk...", "..kbbbk..kgggk..", ".kbbbbbkkgggggk.",
    ".kbbbbbkkgggggk.", ".kbbbbbkkgggggk.", ".kkkkkkkkkkkkkk.", "................",
    "................", "................", "................", "................"};
const Art kMail = {
    "................", "................", "................", ".kkkkkkkkkkkkkk.",
    ".kkwwwwwwwwwwkk.", ".kwkwwwwwwwwkwk.", ".kwwkwwwwwwkwwk.", ".kwwwkwwwwkwwwk.",
    ".kwwwwkkkkwwwwk.", ".kwwwwwwwwwwwwk.", ".kwwwwwwwwwwwwk.", ".kkkkkkkkkkkkkk.",
    "................", "................", "................", "................"};
const Art kLock = {
    "................", ".....kkkkk......", "....kgggggk.....", "...kgk...kgk....",
    "...kgk...kgk....", "...kgk...kgk....", "..kkkkkkkkkkkk..", "..kyyyyyyyyyyk..",
    "..kyyyyyyyyyyk..", "..kyyyykkyyyyk..", "..kyyyykkyyyyk..", "..kyyyyyyyyyyk..",
    "..kyyyyyyyyyyk..", "..kkkkkkkkkkkk..", "................", "................"};
const Art kCalendar = {
    "................", "...k...k...k....", ".kkkkkkkkkkkkkk.", ".krrrrrrrrrrrrk.",
    ".krrrrrrrrrrrrk.", ".kkkkkkkkkkkkkk.", ".kwwwwwwwwwwwwk.", ".kwkwkwkwkwkwwk.",
    ".kwwwwwwwwwwwwk.", ".kwkwkwkwkwkwwk.", ".kwwwwwwwwwwwwk.", ".kwkwkwkwkrkwwk.",
    ".kwwwwwwwwwwwwk.", ".kkkkkkkkkkkkkk.", "................", "................"};
const Art kExit = {
    "................", ".kkkkkkk........", ".knnnnnk........", ".knnnnnk........",
    ".knnnnnk...G....", ".knnnnnk...GG...", ".knnnnnkGGGGGG..", ".knnnnykGGGGGGG.",
    ".knnnnnkGGGGGG..", ".knnnnnk...GG...", ".knnnnnk...G....", ".knnnnnk........",
    ".knnnnnk........", ".kkkkkkk........", "................", "................"};
const Art kUp = {
    "................", "................", ".......bb.......", "......bbbb......",
    ".....bbbbbb.....", "....bbbbbbbb....", "...bbbbbbbbbb...", "..bbbbbbbbbbbb..",
    "......bbbb......", "......bbbb......", "......bbbb......", "......bbbb......",
    "......bbbb......", "......bbbb......", "................", "................"};
const Art kCopy = {
    "................", ".kkkkkkk........", ".kwwwwwk........", ".kwkkkwk........",
    ".kwwwwkkkkkkk...", ".kwkkkkwwwwwk...", ".kwwwwkwkkkwk...", ".kwkkkkwwwwwk...",
    ".kwwwwkwkkkwk...", ".kkkkkkwwwwwk...", "......kwkkkwk...", "......kwwwwwk...",
    "......kkkkkkk...", "................", "................", "................"};
const Art kPaste = {
    "................", ".....kkkkk......", "..kkkkgggkkkk...", "..knnkkkkknnk...",
    "..knwwwwwwwnk...", "..knwkkkkkwnk...", "..knwwwwwwwnk...", "..knwkkkkkwnk...",
    "..knwwwwwwwnk...", "..knwkkkkkwnk...", "..knwwwwwwwnk...", "..knnnnnnnnnk...",
    "..kkkkkkkkkkk...", "................", "................", "................"};
const Art kTruck = {
    "................", "................", "................", "................",
    "kkkkkkkkkk......", "kwwwwwwwwk......", "kwwwwwwwwkkkk...", "kwwwwwwwwkcckk..",
    "kwwwwwwwwkrrrrk.", "kwwwwwwwwkrrrrk.", "kkkkkkkkkkkkkkk.", "..kkk.....kkk...",
    "..kgk.....kgk...", "..kkk.....kkk...", "................", "................"};
const Art kInvoice = {
    "................", "...kkkkkkkkkk...", "...kwwwwwwwwk...", "...kwkkkkwwwk...",
    "...kwwwwwwwwk...", "...kwkkkwkkwk...", "...kwwwwwwwwk...", "...kwkkkwkkwk...",
    "...kwwwwwwwwk...", "...kwkkkwkkwk...", "...kwwwwwwwwk...", "...kwwwwrrrwk...",
    "...kwwwwwwwwk...", "...kkkkkkkkkk...", "................", "................"};
const Art kCoin = {
    "................", "................", "................", ".....kkkkk......",
    "....kyyyyyk.....", "...kyyooyyyk....", "...kyoyyyyyk....", "...kyoyyyyyk....",
    "...kyyooyyyk....", "....kyyyyyk.....", ".....kkkkk......", "................",
    "................", "................", "................", "................"};
const Art kChart = {
    "................", "................", "..........kkk...", "..........kbk...",
    "......kkk.kbk...", "......krk.kbk...", "......krk.kbk...", "..kkk.krk.kbk...",
    "..kGk.krk.kbk...", "..kGk.krk.kbk...", "..kGk.krk.kbk...", "..kGk.krk.kbk...",
    "..kGk.krk.kbk...", ".kkkkkkkkkkkkkk.", "................", "................"};
const Art kHome = {
    "................", ".......kk.......", "......krrk......", ".....krrrrk.....",
    "....krrrrrrk....", "...krrrrrrrrk...", "..krrrrrrrrrrk..", ".kkkkkkkkkkkkkk.",
    "..kwwwwwwwwwwk..", "..kwkkwwwnnnwk..", "..kwkkwwwnnnwk..", "..kwwwwwwnnnwk..",
    "..kwwwwwwnnnwk..", "..kkkkkkkkkkkk..", "................", "................"};
const Art kGear = {
    "................", "......kkkk......", "..kk..kggk..kk..", "..kgkkkggkkkgk..",
    "...kggggggggk...", "..kggggkkggggk..", "kkkgggk..kgggkkk", "kggggk....kggggk",
    "kggggk....kggggk", "kkkgggk..kgggkkk", "..kggggkkggggk..", "...kggggggggk...",
    "..kgkkkggkkkgk..", "..kk..kggk..kk..", "......kkkk......", "................"};
const Art kInfo = {
    "................", ".....bbbbbb.....", "...bbbbbbbbbb...", "..bbbbbwwbbbbb..",
    ".bbbbbbwwbbbbbb.", ".bbbbbbbbbbbbbb.", "bbbbbbwwwbbbbbbb", "bbbbbbbwwbbbbbbb",
    "bbbbbbbwwbbbbbbb", "bbbbbbbwwbbbbbbb", ".bbbbbbwwbbbbbb.", ".bbbbbwwwwbbbbb.",
    "..bbbbbbbbbbbb..", "...bbbbbbbbbb...", ".....bbbbbb.....", "................"};
const Art kWarning = {
    "................", ".......kk.......", "......kyyk......", "......kyyk......",
    ".....kyyyyk.....", ".....kykkyk.....", "....kyykkyyk....", "....kyykkyyk....",
    "...kyyykkyyyk...", "...kyyykkyyyk...", "..kyyyyyyyyyyk..", "..kyyyykkyyyyk..",
    ".kyyyyykkyyyyyk.", ".kyyyyyyyyyyyyk.", "kkkkkkkkkkkkkkkk", "................"};
const Art kStar = {
    "................", ".......k........", "......kyk.......", "......kyk.......",
    ".....kyyyk......", "kkkkkkyyykkkkkk.", ".kyyyyyyyyyyyk..", "..kyyyyyyyyyk...",
    "...kyyyyyyyk....", "....kyyyyyk.....", "...kyyyyyyyk....", "...kyyykyyyk....",
    "..kyyyk.kyyyk...", "..kyk.....kyk...", ".kk.........kk..", "................"};
const Art kTag = {
    "................", "................", "................", ".kkkkkkkkkk.....",
    ".koooooooook....", ".kowwoooooook...", ".kowwooooooook..", ".kooooooooooook.",
    ".koooooooooook..", ".kooooooooook...", ".koooooooook....", ".kkkkkkkkkk.....",
    "................", "................", "................", "................"};

} // namespace

QList<ButtonImage> buttonImages()
{
    const Grid up = grid(kUp);
    const Grid left = transposed(up);
    const Grid first = grid(kFirst);
    struct Entry { const char *description; const char *hotKey; Grid image; };
    const Entry entries[] = {
        {"Documento", nullptr, grid(kDocument)},
        {"Agregar", "Ctrl+Ins", grid(kPlus)},
        {"Modificar", "F2", grid(kPencil)},
        {"Eliminar", "Ctrl+Del", grid(kMinus)},
        {"Filtrar", nullptr, grid(kFunnel)},
        {"Ordenar", nullptr, grid(kSort)},
        {"Primero", nullptr, first},
        {"Último", nullptr, mirroredH(first)},
        {"Estadísticos", nullptr, grid(kSigma)},
        {"Grabar a disco", nullptr, grid(kFloppy)},
        {"Abrir", "Ctrl+O", grid(kFolder)},
        {"Imprimir", "Ctrl+P", grid(kPrinter)},
        {"Aceptar", nullptr, grid(kCheck)},
        {"Cancelar", nullptr, grid(kCross)},
        {"Refrescar", "F5", grid(kRefresh)},
        {"Nuevo", "Ctrl+N", grid(kNew)},
        {"Buscar", "Ctrl+F", grid(kSearch)},
        {"Ayuda", nullptr, grid(kHelp)},
        {"Calcular", "F9", grid(kCalculator)},
        {"Contraseña", nullptr, grid(kKey)},
        {"Usuario", nullptr, grid(kUser)},
        {"Usuarios", nullptr, grid(kUsers)},
        {"Correo", "Ctrl+E", grid(kMail)},
        {"Bloquear", nullptr, grid(kLock)},
        {"Calendario", nullptr, grid(kCalendar)},
        {"Salir", nullptr, grid(kExit)},
        {"Subir", nullptr, up},
        {"Bajar", nullptr, mirroredV(up)},
        {"Copiar", nullptr, grid(kCopy)},
        {"Pegar", nullptr, grid(kPaste)},
        {"Enviar", "F7", grid(kTruck)},
        {"Facturar", "F11", grid(kInvoice)},
        {"Cobrar", nullptr, grid(kCoin)},
        {"Anterior", nullptr, left},
        {"Siguiente", nullptr, mirroredH(left)},
        {"Gráfico", nullptr, grid(kChart)},
        {"Inicio", nullptr, grid(kHome)},
        {"Configurar", nullptr, grid(kGear)},
        {"Información", nullptr, grid(kInfo)},
        {"Aviso", nullptr, grid(kWarning)},
        {"Favorito", nullptr, grid(kStar)},
        {"Etiquetas", "Ninguna", grid(kTag)},
        {"Vacío", nullptr, grid(kBlank)},
    };
    QList<ButtonImage> out;
    int n = 0;
    for (const Entry &e : entries)
        out.append({n++, QString::fromUtf8(e.description),
                    e.hotKey ? QString::fromUtf8(e.hotKey) : QString(), bmp(e.image)});
    return out;
}

} // namespace vorel::server::demo
