// Records of a JWW drawing held in memory.
//
// The entity records, the attribute and the leading part of a block definition
// are packed: their byte image equals the on-disk form of version 351 and later,
// so a reader can fill the fixed part of an entity with one copy. Packed fields
// must be read and assigned by value (no references or pointers to them).
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

static_assert(std::endian::native == std::endian::little,
              "the packed records mirror the little-endian file layout");

#pragma pack(push, 1)

// Opens every entity and block definition (15 bytes; 13 on disk before 351,
// without nPenWidth).
struct TEntJwwAttr {
    uint32_t lGroup = 0;
    uint8_t nPenStyle = 0;
    uint16_t nPenColor = 0;
    uint16_t nPenWidth = 0;
    uint16_t nLayer = 0;
    uint16_t nGLayer = 0;
    uint16_t sFlg = 0;
};

struct TEntJwwLine {  // "CDataSen"
    TEntJwwAttr att;
    double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
};

struct TEntJwwEnko {  // "CDataEnko"
    TEntJwwAttr att;
    double start_x = 0, start_y = 0;
    double dHankei = 0;
    double radKaishiKaku = 0;
    double radEnkoKaku = 0;
    double radKatamukiKaku = 0;
    double dHenpeiRitsu = 0;
    uint32_t bZenEnFlg = 0;
};

struct TEntJwwTen {  // "CDataTen": 35 bytes on disk, 55 when nPenStyle is 100
    TEntJwwAttr att;
    double start_x = 0, start_y = 0;
    uint32_t bKariten = 0;
    uint32_t nCode = 0;
    double radKaitenKaku = 0;
    double dBairitsu = 0;
};

// The fixed part of a text (83 bytes); the two strings follow on disk.
struct TEntJwwMojiFixed {
    TEntJwwAttr att;
    double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
    uint32_t nMojiShu = 0;
    double dSizeX = 0, dSizeY = 0, dKankaku = 0;
    double degKakudo = 0;
};

struct TEntJwwSolid {  // "CDataSolid": 79 bytes on disk, 83 when nPenColor is 10
    TEntJwwAttr att;
    double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
    double DPoint2_x = 0, DPoint2_y = 0, DPoint3_x = 0, DPoint3_y = 0;
    uint32_t Color = 0;
};

struct TEntJwwBlock {  // "CDataBlock"
    TEntJwwAttr att;
    double DPKijunTen_x = 0, DPKijunTen_y = 0;
    double dBairitsuX = 0, dBairitsuY = 0;
    double radKaitenKaku = 0;
    uint32_t nNumber = 0;
};

// Leading part of a block definition ("CDataList"), 27 bytes on disk.
struct TEntJwwBlockDefFixed {
    TEntJwwAttr att;
    uint32_t nNumber = 0;
    uint32_t bRefferd = 0;
    uint32_t dtime = 0;
};

#pragma pack(pop)

inline constexpr size_t kAttrSize = 15;
inline constexpr size_t kOldAttrSize = 13;  // before version 351
inline constexpr size_t kLineSize = 47;
inline constexpr size_t kEnkoSize = 75;
inline constexpr size_t kTenSize = 35;
inline constexpr size_t kTenOptSize = 20;
inline constexpr size_t kMojiFixedSize = 83;
inline constexpr size_t kSolidSize = 79;
inline constexpr size_t kSolidColorSize = 4;
inline constexpr size_t kBlockSize = 59;
inline constexpr size_t kBlockDefFixedSize = 27;

static_assert(sizeof(TEntJwwAttr) == kAttrSize);
static_assert(sizeof(TEntJwwLine) == kLineSize);
static_assert(sizeof(TEntJwwEnko) == kEnkoSize);
static_assert(sizeof(TEntJwwTen) == kTenSize + kTenOptSize);
static_assert(sizeof(TEntJwwMojiFixed) == kMojiFixedSize);
static_assert(sizeof(TEntJwwSolid) == kSolidSize + kSolidColorSize);
static_assert(sizeof(TEntJwwBlock) == kBlockSize);
static_assert(sizeof(TEntJwwBlockDefFixed) == kBlockDefFixedSize);

struct TEntJwwMoji : TEntJwwMojiFixed {  // "CDataMoji"
    std::u16string strFontName;
    std::u16string str;
};

struct TEntJwwSunpo {  // "CDataSunpou"
    TEntJwwAttr att;
    TEntJwwLine Sen;
    TEntJwwMoji Moji;
    uint16_t bSxfMode = 0;
    TEntJwwLine Ho1, Ho2;
    TEntJwwTen Te1, Te2, Kt1, Kt2;
};

// One drawing-order entry: EntType 1 line, 2 arc, 3 point, 4 text, 5 dimension,
// 6 solid, 7 block insert (0 = no entity); EntNo indexes the array of that kind.
struct TEntJwwNo {
    int32_t EntType = 0;
    int32_t EntNo = 0;
};

struct TEntJwwBlockDef : TEntJwwBlockDefFixed {  // "CDataList"
    std::u16string strName;
    int32_t N = 0;
    std::vector<TEntJwwNo> mNo;
    int32_t mLineN = 0, mEnkoN = 0, mTenN = 0, mMojiN = 0, mSunpoN = 0, mSolidN = 0, mBlockN = 0;
    std::vector<TEntJwwLine> mLine;
    std::vector<TEntJwwEnko> mEnko;
    std::vector<TEntJwwTen> mTen;
    std::vector<TEntJwwMoji> mMoji;
    std::vector<TEntJwwSunpo> mSunpo;
    std::vector<TEntJwwSolid> mSolid;
    std::vector<TEntJwwBlock> mBlock;
    bool ref_flag = false;
    int32_t ref_no = -1;
};

// One block instance of the flattened tree (never written to a file).
struct TEntJwwBlockTree {
    TEntJwwAttr att;
    int32_t level = 0;
    int32_t parent = -1;
    uint32_t no = 0;
    int32_t defno = -1;
    std::u16string name;
    double x = 0, y = 0;
    double r1 = 0, r2 = 0, r3 = 0, r4 = 0;
};

struct TBindImageType {
    std::u16string Fname;
    int32_t Fsize = 0;
    bool exf = false;
};

// ---- Tables of the header section ---------------------------------------------

struct TEntJwwLayerGroup {
    int32_t anGLay = 0;
    int32_t anWriteLay = 0;
    double adScale = 0;
    int32_t anGLayProtect = 0;
    std::u16string aStrGLayName;
};

struct TEntJwwLayer {
    int32_t aanLay = 0;
    int32_t aanLayProtect = 0;
    std::u16string aStrLayName;
};

struct TEntJwwColorNo {
    int32_t aPenColor = 0;
    int32_t anPenWidth = 0;
    int32_t aPrtPenColor = 0;
    int32_t anPrtPenWidth = 0;
    double adPrtTenHankei = 0;
};

struct TEntJwwLineTypeNo {
    int32_t alLType = 0;
    int32_t anTokushuSenUintDot = 0;
    int32_t anTokushuSenPich = 0;
    int32_t anPrtTokushuSenPich = 0;
};

struct TEntJwwRandomLineNo {
    int32_t alLType = 0;
    int32_t anRandSenWide = 0;
    int32_t anTokushuSenPich = 0;
    int32_t anPrtRandSenWide = 0;
    int32_t anPrtTokushuSenPich = 0;
};

struct TEntJwwColorExNo {
    int32_t aPenColor = 0;
    int32_t anPenWidth = 0;
    std::u16string astrUDColorName;
    int32_t aPrtPenColor = 0;
    int32_t anPrtPenWidth = 0;
    double adPrtTenHankei = 0;
};

struct TEntJwwLineTypeExNo {
    int32_t alLType = 0;
    int32_t anTokushuSenUintDot = 0;
    int32_t anTokushuSenPich = 0;
    int32_t anPrtTokushuSenPich = 0;
    std::u16string astrUDLTypeName;
    int32_t anUDLTypeSegment = 0;
    double aadUDLTypePitch[10] = {};  // pitches 1..10 at indices 0..9
};

struct TEntJwwMojiType {
    double adMojiX = 0;
    double adMojiY = 0;
    double adMojiD = 0;
    int32_t anMojiCol = 0;
};

inline constexpr int kLayerGroupCount = 16;
inline constexpr int kLayerCount = 256;
inline constexpr int kColorCount = 10;
inline constexpr int kLtp1Count = 8;
inline constexpr int kLtp2Count = 5;
inline constexpr int kLtp3Count = 4;
inline constexpr int kColorExCount = 257;
inline constexpr int kLineTypeExCount = 33;
inline constexpr int kMojiTypeCount = 10;

// Header settings. The defaults are those of an empty document: every number 0,
// except the zoom layer groups (-1) and the scale fields (1.0).
// Arrays that the format numbers 1..8 are held at indices 0..7.
struct TEntJwwHeader {
    std::u16string jwID;
    int32_t jwVer = 0;
    std::u16string strMemo;
    int32_t nZumen = 0;
    int32_t nWriteGLay = 0;
    int32_t lnSunpou1 = 0, lnSunpou2 = 0, lnSunpou3 = 0, lnSunpou4 = 0, lnSunpou5 = 0;
    int32_t nMaxDrawWid = 0;
    bool bSenHaba100 = false;    // derived on load, not stored
    int32_t nMaxDrawWidBak = 0;  // derived on load, not stored
    double DPPrtGenten_x = 0, DPPrtGenten_y = 0;
    double dPrtBairitsu = 1.0;
    int32_t nPrtSet = 0, nMemoriMode = 0;
    double dMemoriHyoujiMin = 1.0, dMemoriX = 1.0, dMemoriY = 1.0;
    double DpMemoriKjTen_x = 0, DpMemoriKjTen_y = 0;
    double dKageLevel = 0, dKageIdo = 0;
    int32_t nKage9_15JiFlg = 0;
    double dKabeKageLevel = 0, dTenkuuZuLevel = 0, dTenkuuZuEnkoR = 0;
    int32_t nMMTani3D = 0;
    double dBairitsu = 1.0;
    double DPGenten_x = 0, DPGenten_y = 0;
    double dHanniBairitsu = 1.0;
    double DPHanniGenten_x = 0, DPHanniGenten_y = 0;
    double dZoomJumpBairitsu[8] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    double DPZoomJumpGenten_x[8] = {};
    double DPZoomJumpGenten_y[8] = {};
    int32_t nZoomJumpGLay[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    double dDm11 = 0, dDm12 = 0, dDm13 = 0;
    int32_t lnDm1 = 0;
    double dDm21 = 0, dDm22 = 0;
    double dMojiBG = 0;
    int32_t nMojiBG = 0;
    double adFukusenSuuchi[10] = {};
    double dRyougawaFukusenTomeDe = 0;
    int32_t nDrawGamenTen = 0, nDrawPrtTen = 0, nBitMapFirstDraw = 0;
    int32_t nGyakuDraw = 0, nGyakuSearch = 0, nColorPrint = 0, nLayJunPrint = 0;
    int32_t nColJunPrint = 0, nPrtRenzoku = 0, nPrtKyoutsuuGray = 0;
    int32_t nPrtDispOnlyNonDraw = 0;
    int32_t nPrtDpi = 0;
    int32_t lnDrawTime = 0;
    int32_t nEyeInit = 0;
    int32_t dEye_H_Ichi_1 = 0, dEye_H_Ichi_2 = 0, dEye_H_Ichi_3 = 0;  // integers despite the name
    double dEye_Z_Ichi_1 = 0, dEye_Y_Ichi_1 = 0, dEye_Z_Ichi_2 = 0, dEye_Y_Ichi_2 = 0, dEye_V_Ichi_3 = 0;
    double dSenNagasaSnpou = 0, dBoxSunpouX = 0, dBoxSunpouY = 0, dEnHankeiSnpou = 0;
    int32_t nSolidNinniColor = 0;
    int32_t SolidColor = 0;
    double dMojiSizeX = 0, dMojiSizeY = 0, dMojiKankaku = 0;
    int32_t nMojiColor = 0, nMojiShu = 0;
    double dMojiSeiriGyouKan = 0, dMojiSeiriSuu = 0;
    int32_t nMojiKijunZureOn = 0;
    double adMojiKijunZureX0 = 0, adMojiKijunZureX1 = 0, adMojiKijunZureX2 = 0;
    double adMojiKijunZureY0 = 0, adMojiKijunZureY1 = 0, adMojiKijunZureY2 = 0;
    // Not part of the file header: entries of EntNo and definitions read.
    int32_t n1 = 0;
    int32_t n2 = 0;
};

// Entity kinds: the EntType of the drawing order and the kind given to the
// attribute writer; 8 is the block definition.
enum EntKind : int {
    kKindLine = 1,
    kKindEnko = 2,
    kKindTen = 3,
    kKindMoji = 4,
    kKindSunpo = 5,
    kKindSolid = 6,
    kKindBlock = 7,
    kKindBlockDef = 8,
};

}  // namespace morvane
