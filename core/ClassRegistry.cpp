#include "ClassRegistry.h"

#include "CItem.h"
#include "CItemList.h"

const CRuntimeClass* FindSerializableClass(std::string_view name) {
    for (const CRuntimeClass* cls : {&CItemList::classCItemList, &CItem::classCItem}) {
        if (name == cls->m_lpszClassName)
            return cls;
    }
    return nullptr;
}
