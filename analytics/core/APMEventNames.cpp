// Event-name and failure-code tables.
#include "analytics/core/APMEventNames.h"

#include "analytics/core/APMMonitor.h"

#include <algorithm>
#include <array>

namespace {

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

constexpr std::array<std::string_view, 20> kEcommerceEventNames = {
    "add_payment_info", "add_shipping_info", "add_to_cart",     "add_to_wishlist",     "begin_checkout",
    "purchase",         "refund",            "remove_from_cart", "select_item",         "select_promotion",
    "view_cart",        "view_item",         "view_item_list",  "view_promotion",      "ecommerce_purchase",
    "checkout_progress", "purchase_refund",  "select_content",  "set_checkout_option", "view_search_results",
};

constexpr std::array<std::string_view, 33> kEcommerceParameterNames = {
    "affiliation",    "coupon",         "creative_name",  "creative_slot",  "currency",       "discount",
    "index",          "item_id",        "item_brand",     "item_category",  "item_category2", "item_category3",
    "item_category4", "item_category5", "item_list_name", "item_list_id",   "item_name",      "item_variant",
    "location_id",    "payment_type",   "price",          "promotion_id",   "promotion_name", "quantity",
    "shipping",       "shipping_tier",  "tax",            "transaction_id", "value",          "checkout_step",
    "checkout_option", "item_list",     "item_location_id",
};

constexpr std::array<std::string_view, 5> kDefaultConversionEventNames = {
    "ecommerce_purchase", "_f", "_iap", "purchase", "refund",
};

}  // namespace

const std::map<std::string, std::string>& APMInternalEventNamesByPublicName() {
    static const std::map<std::string, std::string>& table = *new std::map<std::string, std::string>{
        {"adunit_exposure", "_xu"},
        {"ad_activeview", "_aa"},
        {"ad_click", "_ac"},
        {"ad_exposure", "_xa"},
        {"ad_impression", "_ai"},
        {"ad_query", "_aq"},
        {"ad_reward", "_ar"},
        {"app_background", "_ab"},
        {"app_clear_data", "_cd"},
        {"app_exception", "_ae"},
        {"app_remove", "_ui"},
        {"app_store_refund", "_asr"},
        {"app_store_subscription_cancel", "_asse"},
        {"app_store_subscription_convert", "_assc"},
        {"app_store_subscription_renew", "_assr"},
        {"app_update", "_au"},
        {"app_upgrade", "_ug"},
        {"va_campaign", "_cmp"},
        {"va_extra_parameter", "_ep"},
        {"in_app_purchase", "_iap"},
        {"notification_dismiss", "_nd"},
        {"notification_foreground", "_nf"},
        {"notification_open", "_no"},
        {"notification_receive", "_nr"},
        {"os_update", "_ou"},
        {"screen_view", "_vs"},
        {"session_start", "_s"},
        {"session_start_with_rollout", "_ssr"},
        {"user_engagement", "_e"},
        {"first_open", "_f"},
        {"first_visit", "_v"},
        {"rezavivi_campaign", "_cmp"},
        {"error", "_err"},
    };
    return table;
}

const std::map<std::string, std::string>& APMPublicEventNamesByInternalName() {
    static const std::map<std::string, std::string>& table = *new std::map<std::string, std::string>([] {
        std::map<std::string, std::string> inverse;
        for (const auto& [publicName, internalName] : APMInternalEventNamesByPublicName()) {
            // "_cmp" has two public forms; the "va_" one is shown.
            auto it = inverse.find(internalName);
            if (it == inverse.end() || it->second.rfind("rezavivi_", 0) == 0) inverse[internalName] = publicName;
        }
        return inverse;
    }());
    return table;
}

const std::map<std::string, std::string>& APMAllowedReservedPublicEventNames() {
    static const std::map<std::string, std::string>& table = *new std::map<std::string, std::string>{{"ad_impression", "_ai"}};
    return table;
}

const std::map<std::int64_t, std::string>& APMFailureCodeNames() {
    static const std::map<std::int64_t, std::string>& table = *new std::map<std::int64_t, std::string>{
        {0, "NoError"},
        {1, "InvalidVUVAppID"},
        {2, "InvalidEventName"},
        {3, "InvalidParameterName"},
        {4, "InvalidParameterValue"},
        {5, "ParameterLimitReached"},
        {6, "InvalidUserPropertyName"},
        {7, "UserPropertyValueTooLong"},
        {8, "EventLimitReached"},
        {9, "UserPropertyLimitReached"},
        {10, "ConversionEventLimitReached"},
        {11, "EventIsBlocked"},
        {12, "UserPropertyIsBlocked"},
        {13, "EventNameIsReserved"},
        {14, "ParameterNameIsReserved"},
        {15, "UserPropertyNameIsReserved"},
        {16, "PublicEventLimitReached"},
        {17, "TooManyExtraParamEvents"},
        {18, "ValueIsNotNumeric"},
        {19, "CurrencyCodeIsMissingOrInvalid"},
        {20, "InvalidArrayParamName"},
        {21, "InvalidArrayParamEventName"},
        {22, "InvalidArrayParamNesting"},
        {23, "CustomParamsInArrayElement"},
    };
    return table;
}

bool APMIsPublicName(const Value& name) {
    if (!name.isString()) {
        APMMeasurementMonitor()->logWithLevel(2, 18002, "Cannot check the name. Name is not a string");
        return false;
    }
    if (name.string().empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 18003, "Cannot check the name. Name is empty");
        return false;
    }
    return name.string()[0] != '_';
}

bool APMIsNotErrorEventName(std::string_view name) { return name != "_err"; }

bool APMIsEcommerceEventName(std::string_view name) { return contains(kEcommerceEventNames, name); }

bool APMIsEcommerceParameterName(std::string_view name) { return contains(kEcommerceParameterNames, name); }

bool APMIsDefaultConversionEventName(std::string_view name) { return contains(kDefaultConversionEventNames, name); }
