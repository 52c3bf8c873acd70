#pragma once
// Typed, named access to a small fixed-layout record kept in a raw byte range
// of a device file (a region of a block device, or a register reached through
// the physical-memory device). The range is mapped shared and read-write, and
// every access goes straight to the mapping: there is no cache to flush.
#include <memory>
#include <string>
#include <vector>

class PersistentInfo {
public:
    // One field of the layout. Positions are in bits from the start of the
    // mapping; `base` is the start of the mapping.
    class Base {
    public:
        static constexpr unsigned int PRIVATE = 1;  // written by name only with force
        static constexpr unsigned int HIDDEN = 2;   // left out of printAll

        Base(std::string name, unsigned int flags) : name(std::move(name)), flags(flags) {}
        virtual ~Base() = default;

        virtual unsigned int bitSize() const = 0;
        virtual void value(unsigned char* base, unsigned int position, std::string& text) const = 0;
        // 1 on success.
        virtual unsigned int setValue(unsigned char* base, unsigned int position, const char* text) const = 0;
        virtual unsigned int type() const { return 0; }

        const std::string name;
        const unsigned int flags;
    };

    // An unsigned 32-bit number at the first whole byte at or after its position.
    class Int : public Base {
    public:
        static constexpr unsigned int KIND = 1;
        explicit Int(std::string name, unsigned int flags = 0) : Base(std::move(name), flags) {}

        unsigned int bitSize() const override { return 32; }
        void value(unsigned char* base, unsigned int position, std::string& text) const override;
        unsigned int setValue(unsigned char* base, unsigned int position, const char* text) const override;
        unsigned int type() const override { return KIND; }

        void value(unsigned char* base, unsigned int position, unsigned int& number) const;
        unsigned int setValue(unsigned char* base, unsigned int position, unsigned int number) const;
    };

    // A zero-terminated text in a field of fixed capacity; the last byte of the
    // field is never written, so a text fits in capacity - 2 characters.
    class String : public Base {
    public:
        String(std::string name, unsigned int capacity, unsigned int flags = 0)
            : Base(std::move(name), flags), capacity(capacity) {}

        unsigned int bitSize() const override { return capacity * 8; }
        void value(unsigned char* base, unsigned int position, std::string& text) const override;
        unsigned int setValue(unsigned char* base, unsigned int position, const char* text) const override;

        const unsigned int capacity;
    };

    // An unsigned bit field inside one 32-bit word, counted from the word's most
    // significant bit.
    class Bits : public Base {
    public:
        static constexpr unsigned int KIND = 3;
        Bits(std::string name, unsigned int width, unsigned int flags = 0)
            : Base(std::move(name), flags), width(width) {}

        unsigned int bitSize() const override { return width; }
        void value(unsigned char* base, unsigned int position, std::string& text) const override;
        unsigned int setValue(unsigned char* base, unsigned int position, const char* text) const override;
        unsigned int type() const override { return KIND; }

        void value(unsigned char* base, unsigned int position, unsigned int& number) const;
        unsigned int setValue(unsigned char* base, unsigned int position, unsigned int number) const;
        // Gives the mask and the shift of the field's lowest bit; returns the byte
        // offset of the containing word.
        unsigned int getParams(unsigned int position, unsigned int& mask, unsigned int& shift) const;

        const unsigned int width;
    };

    PersistentInfo(const char* path, unsigned int offset, unsigned int length);
    ~PersistentInfo();
    PersistentInfo(const PersistentInfo&) = delete;
    PersistentInfo& operator=(const PersistentInfo&) = delete;

    void open();
    void addInfo(std::unique_ptr<Base>&& field);
    unsigned int size() const;
    unsigned int blockLength() const { return length; }

    // Typed access by name. The field class decides how the value is read: Int
    // and Bits give numbers, Base gives every field as text. A name that matches
    // no field of that class gives false.
    template <class Field, class Value>
    bool get(const char* name, Value& value) const {
        unsigned int position = 0;
        const Field* field = find<Field>(name, position);
        if (field == nullptr) return false;
        field->value(mapping, position, value);
        return true;
    }

    template <class Field, class Value>
    bool set(const char* name, const Value& value, bool force) {
        unsigned int position = 0;
        const Field* field = find<Field>(name, position);
        if (field == nullptr) return false;
        requireWritable(*field, force);
        return field->setValue(mapping, position, value) != 0;
    }

    // CRC-32/MPEG-2 over the block's bytes 12 up to `length`; the first 12 bytes
    // hold the block's own header.
    unsigned int checksum(unsigned int length) const;
    void clearAll();
    void setNewMemToDefault(unsigned int from, unsigned int to) const;
    void printAll();

private:
    unsigned char* block() const { return mapping + pageDelta; }
    unsigned int firstPosition() const { return pageDelta * 8; }
    unsigned int endPosition() const;
    bool fitsAt(const Base& field, unsigned int position) const;
    // Calls visit(field, position) in layout order until it returns false.
    template <class Visit>
    void walk(Visit visit) const {
        unsigned int position = firstPosition();
        for (const auto& field : fields) {
            if (!visit(*field, position)) return;
            position += field->bitSize();
        }
    }
    const Base* findBase(const char* name, unsigned int& position) const;
    template <class Field>
    const Field* find(const char* name, unsigned int& position) const {
        return dynamic_cast<const Field*>(findBase(name, position));
    }
    static void requireWritable(const Base& field, bool force);

    const char* path;
    unsigned int offset;
    unsigned int length;
    int fd = -1;
    unsigned char* mapping = nullptr;
    unsigned int pageDelta = 0;
    unsigned int mappedLength = 0;
    std::vector<std::unique_ptr<const Base>> fields;
};
