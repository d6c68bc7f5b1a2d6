// Dynamically typed values: rows, user info, property lists, JSON, parameters, user defaults.
#pragma once

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

using NSData = std::vector<std::uint8_t>;

class Value {
public:
    enum class Type { Null, Bool, Integer, Unsigned, Double, String, Data, Date, Array, Dictionary, Object };
    using Array = std::vector<Value>;
    class Dictionary;

    Value() = default;
    Value(const Value& other) = default;
    // Out of line: inlined, it has gcc 12 follow every kind of value into the caller and warn
    // falsely that a string there may be uninitialised.
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other) = default;
    Value& operator=(Value&& other) noexcept = default;
    ~Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(long i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(unsigned i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long i) : storage_(static_cast<std::uint64_t>(i)) {}
    Value(unsigned long long i) : storage_(static_cast<std::uint64_t>(i)) {}
    Value(double d) : storage_(d) {}
    Value(float f) : storage_(static_cast<double>(f)) {}
    Value(const char* s) : storage_(std::string(s ? s : "")) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(std::string_view s) : storage_(std::string(s)) {}
    Value(NSData d) : storage_(std::make_shared<const NSData>(std::move(d))) {}
    Value(NSDate d) : storage_(d) {}
    Value(Array a);
    Value(Dictionary d);
    Value(std::shared_ptr<NSObject> o);
    template <class T, class = std::enable_if_t<std::is_base_of_v<NSObject, T>>>
    Value(std::shared_ptr<T> o) : Value(std::static_pointer_cast<NSObject>(std::move(o))) {}

    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isNumber() const;  // bool, integer, unsigned or double
    bool isBool() const { return type() == Type::Bool; }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isObject() const { return type() == Type::Object; }
    // A number made from a floating-point value (CFNumberIsFloatType).
    bool isFloatType() const { return type() == Type::Double; }
    // The platform's type encoding of a number: "c" bool, "q" signed, "Q" unsigned, "d" double; "" otherwise.
    const char* objCType() const;

    // Conversions of numbers and numeric strings with the platform's rules: leading
    // white space, sign and digits are read, anything else gives 0.
    int intValue() const;
    long integerValue() const;
    long long longLongValue() const;
    unsigned long long unsignedLongLongValue() const;
    double doubleValue() const;
    float floatValue() const { return static_cast<float>(doubleValue()); }
    // Numbers: non-zero. Strings: "Y", "y", "T", "t" or a non-zero number after leading white space.
    bool boolValue() const;
    // Strings as they are; numbers as the platform prints them; null as ""; otherwise the description.
    std::string stringValue() const;

    // Typed access; asking for the wrong type gives an empty value of the asked type.
    const std::string& string() const;
    const NSData& data() const;
    NSDate date() const;
    const Array& array() const;
    Array& mutableArray();  // turns a non-array into an empty array first
    const Dictionary& dictionary() const;
    Dictionary& mutableDictionary();  // turns a non-dictionary into an empty dictionary first
    std::shared_ptr<NSObject> object() const;
    template <class T>
    std::shared_ptr<T> objectAs() const { return std::dynamic_pointer_cast<T>(object()); }

    // Dictionary member or array element; a null value when absent or of another type.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    const Value& operator[](std::size_t index) const;
    const Value& operator[](int index) const { return (*this)[static_cast<std::size_t>(index)]; }
    // Elements of an array, entries of a dictionary, else 0.
    std::size_t count() const;

    // Values are copied on write; this forces a private copy of every nested container.
    Value deepCopy() const;
    // Equality as the platform's isEqual: numbers compare by value (1 == 1.0 == true),
    // containers element by element, objects through isEqual.
    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }
    std::size_t hash() const;
    // The platform's description, as "%@" prints it.
    std::string description() const;
    // The class a value of this kind has on the platform ("NSString", "NSNumber"...), or the
    // object's own; "nil" for an empty object. Log lines name kinds this way.
    std::string className() const;

    static const Value& null();

private:
    // Storage that copies share until one of them writes. A holder changes it in place only when
    // it is the only one left, and learns that with an acquire load that pairs with the release
    // by which every other holder let go: what another thread read through its copy is over
    // before the change. (A shared_ptr's use_count() is a relaxed load, which orders nothing.)
    // The holders of one Shared node.
    struct SharedCount {
        virtual ~SharedCount() = default;
        // The last holder to let go deletes the node.
        static void release(SharedCount* count) noexcept;
        std::atomic<std::size_t> holders{1};
    };

    template <class T>
    class Shared {
    public:
        Shared() = default;
        explicit Shared(T value) : node_(new Node(std::move(value))) {}
        Shared(const Shared& other) noexcept : node_(other.node_) {
            if (node_) node_->holders.fetch_add(1, std::memory_order_relaxed);
        }
        Shared(Shared&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
        Shared& operator=(const Shared& other) noexcept {
            Shared copy(other);
            std::swap(node_, copy.node_);
            return *this;
        }
        Shared& operator=(Shared&& other) noexcept {
            Shared taken(std::move(other));
            std::swap(node_, taken.node_);
            return *this;
        }
        ~Shared() {
            if (node_) SharedCount::release(node_);
        }

        explicit operator bool() const { return node_ != nullptr; }
        const T& operator*() const { return static_cast<const Node*>(node_)->value; }
        const T* operator->() const { return &**this; }
        // This holder's own storage to change, copied first while any other holder is left.
        T& mutate() {
            if (node_->holders.load(std::memory_order_acquire) != 1) *this = Shared(**this);
            return static_cast<Node*>(node_)->value;
        }

    private:
        // Copying and destroying see only the count, so they need no complete T.
        struct Node final : SharedCount {
            explicit Node(T v) : value(std::move(v)) {}
            T value;
        };
        SharedCount* node_ = nullptr;
    };

    using Storage = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string,
                                 std::shared_ptr<const NSData>, NSDate, Shared<Array>, Shared<Dictionary>,
                                 std::shared_ptr<NSObject>>;
    Storage storage_;
};

// A string-keyed dictionary that enumerates in insertion order. Its keys live in a table that
// copies share until one of them adds or removes a key, so dictionaries with the same keys (the
// rows of one query, made by position over one table) each hold only their values.
class Value::Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    // One entry as iteration yields it.
    struct EntryRef {
        const std::string& first;
        const Value& second;
        operator Entry() const { return Entry(first, second); }
    };
    class const_iterator;

    class Keys;
    // A key table as the dictionaries made over it share it.
    using SharedKeys = Shared<Keys>;

    // Distinct keys in order, shared by the dictionaries made over them.
    class Keys {
    public:
        static constexpr std::size_t npos = static_cast<std::size_t>(-1);
        // A name given again keeps its first place.
        static SharedKeys make(const std::vector<std::string>& names);

        std::size_t size() const { return names_.size(); }
        const std::string& operator[](std::size_t position) const { return names_[position]; }
        // The place of a key, or npos.
        std::size_t position(std::string_view key) const;

    private:
        friend class Dictionary;
        friend class Value;
        // Made only by make and by dictionaries, always changeable: a dictionary changes a table
        // in place once it is the table's only holder.
        Keys() = default;
        Keys(const Keys&) = default;
        Keys(Keys&&) = default;
        Keys& operator=(const Keys&) = delete;
        // Appends a key that is not there yet.
        void append(const std::string& key);
        void erase(std::size_t position);

        // Lookups by string_view without building a temporary string.
        struct KeyHash {
            using is_transparent = void;
            std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
        };
        // Up to this many keys are found by a scan, which beats hashing them and saves the
        // index's allocations; past it the index is made and kept complete.
        static constexpr std::size_t kScannedKeys = 8;
        std::vector<std::string> names_;
        std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> index_;
    };

    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);
    // The value of keys[i] is values[i]: missing values are null, extra ones are dropped.
    Dictionary(SharedKeys keys, std::vector<Value> values);

    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // The value for a key, or a null value.
    const Value& get(std::string_view key) const;
    // Sets a key (kept at its place when present, appended otherwise).
    void set(const std::string& key, Value value);
    // Inserts a null value when the key is absent.
    Value& operator[](const std::string& key);
    // The value for a key, or a null value (as get).
    const Value& operator[](std::string_view key) const { return get(key); }
    bool erase(std::string_view key);
    void clear();
    std::vector<std::string> keys() const;

    const_iterator begin() const;
    const_iterator end() const;

    bool operator==(const Dictionary& other) const;  // same keys and equal values, any order
    bool operator!=(const Dictionary& other) const { return !(*this == other); }

private:
    std::size_t position(std::string_view key) const { return keys_ ? keys_->position(key) : Keys::npos; }
    // The keys, made private to this dictionary first when shared.
    Keys& mutableKeys();
    SharedKeys keys_;
    std::vector<Value> values_;
};

// Iterates the entries in order, yielding each as an EntryRef.
class Value::Dictionary::const_iterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using reference = EntryRef;
    struct pointer {
        EntryRef entry;
        const EntryRef* operator->() const { return &entry; }
    };

    const_iterator() = default;
    EntryRef operator*() const { return EntryRef{(*dictionary_->keys_)[position_], dictionary_->values_[position_]}; }
    pointer operator->() const { return pointer{**this}; }
    const_iterator& operator++() {
        ++position_;
        return *this;
    }
    const_iterator operator++(int) {
        const_iterator before = *this;
        ++position_;
        return before;
    }
    bool operator==(const const_iterator& other) const { return position_ == other.position_; }
    bool operator!=(const const_iterator& other) const { return position_ != other.position_; }

private:
    friend class Dictionary;
    const_iterator(const Dictionary* dictionary, std::size_t position) : dictionary_(dictionary), position_(position) {}
    const Dictionary* dictionary_ = nullptr;
    std::size_t position_ = 0;
};

inline Value::Dictionary::const_iterator Value::Dictionary::begin() const { return const_iterator(this, 0); }
inline Value::Dictionary::const_iterator Value::Dictionary::end() const { return const_iterator(this, values_.size()); }

template <>
struct std::hash<Value> {
    std::size_t operator()(const Value& v) const { return v.hash(); }
};
