// The funnel's one reading of the store.
#include "funnel/funnel.h"

#include "store/store.h"

bool ReadFunnel(Store& store, const std::string& by, std::int64_t since, std::int64_t until, bool withDays,
                Funnel* funnel, std::string* why) {
    funnel->by = by;
    funnel->days.clear();
    return store.Funnel(by, since, until, &funnel->groups, why) &&
           (!withDays || store.Daily(since, until, &funnel->days, why));
}
