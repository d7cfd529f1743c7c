#include "CItem.h"

#include "CObjectArchive.h"

const CRuntimeClass CItem::classCItem{"CItem", 0, []() -> std::unique_ptr<CSerializable> { return std::make_unique<CItem>(); }};

void CItem::Serialize(CObjectArchive& ar) {
    ar.Exchange(m_bResult);
    ar.Exchange(m_bConnect);
    ar.Exchange(m_strAddress);
    ar.Exchange(m_nPort);
}
