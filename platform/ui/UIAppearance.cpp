// The appearance registry and its application to views coming on screen.
#include "platform/ui/UIAppearance.h"

#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UIToolbar.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIView.h"

#include <cstdlib>
#include <map>

namespace {

Mutex registryMutex;

struct Registry {
    std::map<std::string, std::shared_ptr<UIAppearanceProxy>> proxies;  // by "Class|Container|..."
    std::map<std::string, UIAppearance::Applier> appliers;
};

Registry& registry() REQUIRES(registryMutex) {
    static auto* r = new Registry;  // never destroyed
    static std::once_flag once;
    std::call_once(once, [] {
        r->appliers["tintColor"] = [](UIView& view, const Value& v) {
            if (auto color = std::dynamic_pointer_cast<UIColor>(v.object())) view.setTintColor(color);
        };
        r->appliers["backgroundColor"] = [](UIView& view, const Value& v) {
            if (auto color = std::dynamic_pointer_cast<UIColor>(v.object())) view.setBackgroundColor(color);
        };
        r->appliers["standardAppearance"] = [](UIView& view, const Value& v) {
            if (auto* bar = dynamic_cast<UINavigationBar*>(&view)) bar->setStandardAppearance(v.objectAs<UINavigationBarAppearance>());
            if (auto* bar = dynamic_cast<UIToolbar*>(&view)) bar->setStandardAppearance(v.objectAs<UIToolbarAppearance>());
        };
        r->appliers["scrollEdgeAppearance"] = [](UIView& view, const Value& v) {
            if (auto* bar = dynamic_cast<UINavigationBar*>(&view)) bar->setScrollEdgeAppearance(v.objectAs<UINavigationBarAppearance>());
            if (auto* bar = dynamic_cast<UIToolbar*>(&view)) bar->setScrollEdgeAppearance(v.objectAs<UIToolbarAppearance>());
        };
    });
    return *r;
}

const int styledKey = 0;

std::string stateKey(const std::string& property, unsigned state) { return property + "@" + std::to_string(state); }

// The containers of a view, innermost first: its superviews and the controllers whose views
// they are, with those controllers' parents.
std::vector<const NSObject*> chainOf(const UIView& view, std::vector<std::shared_ptr<NSObject>>& keep) {
    std::vector<const NSObject*> chain;
    auto addResponders = [&](const std::shared_ptr<UIView>& v) {
        if (auto controller = v->viewController()) {
            for (std::shared_ptr<UIResponder> c = controller; c; ) {
                keep.push_back(c);
                chain.push_back(c.get());
                auto next = c->nextResponder();
                // Stay with controllers: a controller's next responder is a view or a parent.
                if (next && !std::dynamic_pointer_cast<UIView>(next)) c = next; else c = nullptr;
            }
        }
    };
    if (auto self = std::const_pointer_cast<UIView>(std::static_pointer_cast<const UIView>(view.shared_from_this())))
        addResponders(self);
    for (auto v = view.superview(); v; v = v->superview()) {
        keep.push_back(v);
        chain.push_back(v.get());
        addResponders(v);
    }
    return chain;
}

void styleTree(const std::shared_ptr<UIView>& view, const std::vector<std::shared_ptr<UIAppearanceProxy>>& proxies,
               const std::map<std::string, UIAppearance::Applier>& appliers) {
    if (!view->associatedValue(&styledKey).boolValue()) {
        view->setAssociatedValue(&styledKey, Value(true));
        std::vector<std::shared_ptr<NSObject>> keep;
        const auto chain = chainOf(*view, keep);
        for (const auto& [property, applier] : appliers) {
            const UIAppearanceProxy* best = nullptr;
            for (const auto& p : proxies) {
                if (!p->hasValue(property) || !p->matches(*view) || !p->containedIn(chain)) continue;
                if (!best || p->containerCount() > best->containerCount()) best = p.get();
            }
            if (best) applier(*view, best->value(property));
        }
    }
    const auto subviews = view->subviews();
    for (const auto& sub : subviews) styleTree(sub, proxies, appliers);
}

}  // namespace

UIAppearanceProxy::UIAppearanceProxy(std::string name, Matcher matcher, std::vector<Matcher> containers)
    : name_(std::move(name)), matcher_(std::move(matcher)), containers_(std::move(containers)) {}

void UIAppearanceProxy::setValue(const std::string& property, const Value& value) {
    MutexLock lock(mutex_);
    values_[property] = value;
}

void UIAppearanceProxy::setValue(const std::string& property, unsigned state, const Value& value) {
    setValue(stateKey(property, state), value);
}

Value UIAppearanceProxy::value(const std::string& property) const {
    MutexLock lock(mutex_);
    const Value* v = values_.find(property);
    return v ? *v : Value();
}

Value UIAppearanceProxy::value(const std::string& property, unsigned state) const {
    return value(stateKey(property, state));
}

bool UIAppearanceProxy::hasValue(const std::string& property) const {
    MutexLock lock(mutex_);
    return values_.contains(property);
}

Value::Dictionary UIAppearanceProxy::values() const {
    MutexLock lock(mutex_);
    return values_;
}

bool UIAppearanceProxy::containedIn(const std::vector<const NSObject*>& chain) const {
    std::size_t at = 0;
    for (const auto& container : containers_) {
        while (at < chain.size() && !container(*chain[at])) ++at;
        if (at == chain.size()) return false;
        ++at;
    }
    return true;
}

std::shared_ptr<UIAppearanceProxy> UIAppearance::proxyFor(const std::string& name, const std::vector<std::string>& containers,
                                                          UIAppearanceProxy::Matcher matcher,
                                                          std::vector<UIAppearanceProxy::Matcher> containerMatchers) {
    std::string key = name;
    for (const auto& c : containers) key += "|" + c;
    MutexLock lock(registryMutex);
    auto& slot = registry().proxies[key];
    if (!slot) slot = std::make_shared<UIAppearanceProxy>(name, std::move(matcher), std::move(containerMatchers));
    return slot;
}

Value UIAppearance::valueFor(const NSObject& object, const std::vector<const NSObject*>& chain,
                             const std::string& property) {
    std::vector<std::shared_ptr<UIAppearanceProxy>> proxies;
    {
        MutexLock lock(registryMutex);
        for (const auto& [key, p] : registry().proxies) proxies.push_back(p);
    }
    const UIAppearanceProxy* best = nullptr;
    for (const auto& p : proxies) {
        if (!p->hasValue(property) || !p->matches(object) || !p->containedIn(chain)) continue;
        if (!best || p->containerCount() > best->containerCount()) best = p.get();
    }
    return best ? best->value(property) : Value();
}

void UIAppearance::registerApplier(const std::string& property, Applier applier) {
    MutexLock lock(registryMutex);
    registry().appliers[property] = std::move(applier);
}

void UIAppearance::applyToTree(const std::shared_ptr<UIView>& root) {
    if (!root) return;
    std::vector<std::shared_ptr<UIAppearanceProxy>> proxies;
    std::map<std::string, Applier> appliers;
    {
        MutexLock lock(registryMutex);
        for (const auto& [key, p] : registry().proxies) proxies.push_back(p);
        appliers = registry().appliers;
    }
    if (proxies.empty()) return;
    styleTree(root, proxies, appliers);
}

void UIAppearance::reset() {
    MutexLock lock(registryMutex);
    registry().proxies.clear();
}
