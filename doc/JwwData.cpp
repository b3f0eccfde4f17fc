#include "doc/JwwUnit.h"

namespace morvane {

TJwwData::TJwwData() { DataInit(); }

TJwwData::~TJwwData() { DataFree(); }

void TJwwData::DataInit() {
    FileOutOpt = 0;
    FontNameN = 0;
    FontNames.clear();
    MojiEncode = false;
    EntBlockNum = 0;

    Enthd = TEntJwwHeader{};
    EntLgrp.clear();
    EntLay.clear();
    EntCol.clear();
    EntLtp1.clear();
    EntLtp2.clear();
    EntLtp3.clear();
    EntColS.clear();
    EntLtpS.clear();
    EntMoj.clear();

    EntNo.clear();
    EntLine.clear();
    EntLineN = 0;
    EntEnko.clear();
    EntEnkoN = 0;
    EntTen.clear();
    EntTenN = 0;
    EntMoji.clear();
    EntMojiN = 0;
    EntSunpo.clear();
    EntSunpoN = 0;
    EntSolid.clear();
    EntSolidN = 0;
    EntBlock.clear();
    EntBlockN = 0;
    EntBlockDef.clear();
    EntBlockDefN = 0;
    EntBlockTree.clear();
    EntBlockTreeN = 0;

    BindImage.clear();
    BindImageN = 0;
    imageFiles_.clear();
}

void TJwwData::SizeTables() {
    EntLgrp.assign(kLayerGroupCount, {});
    EntLay.assign(kLayerCount, {});
    EntCol.assign(kColorCount, {});
    EntLtp1.assign(kLtp1Count, {});
    EntLtp2.assign(kLtp2Count, {});
    EntLtp3.assign(kLtp3Count, {});
    EntColS.assign(kColorExCount, {});
    EntLtpS.assign(kLineTypeExCount, {});
    EntMoj.assign(kMojiTypeCount, {});
}

void TJwwData::DataFree() {
    // Give the memory back: a reused document must not keep the capacity of
    // the largest drawing it ever held.
    std::vector<TEntJwwBlockDef>().swap(EntBlockDef);
    std::vector<TEntJwwLine>().swap(EntLine);
    std::vector<TEntJwwEnko>().swap(EntEnko);
    std::vector<TEntJwwTen>().swap(EntTen);
    std::vector<TEntJwwMoji>().swap(EntMoji);
    std::vector<TEntJwwSunpo>().swap(EntSunpo);
    std::vector<TEntJwwSolid>().swap(EntSolid);
    std::vector<TEntJwwBlock>().swap(EntBlock);
    std::vector<TEntJwwNo>().swap(EntNo);
    std::vector<TEntJwwBlockTree>().swap(EntBlockTree);
    DataInit();
}

}  // namespace morvane
