/* The board object from C and from any language that calls C (libostrelzelto.so.1).
 *
 * A board object is created on a device path, a port number or a simulated board inside this
 * library, and its members are called late-bound, by dispatch identifier or by name, with
 * automation values. Every member, its parameters and its rules are the board object's own: list
 * them with oz_member_count/oz_member_get/oz_member_param. A function that fails returns an error
 * number (or NULL) and leaves the number and its text for oz_last_error/oz_last_error_text of the
 * same thread.
 *
 * Threads: a board object may be used from any number of threads. Its members run one at a time,
 * each with its own arguments and result; a call made while another thread's member runs waits for
 * it, up to the link limit (5 s), and then fails with 8120 as a busy link does. Link with
 * -lostrelzelto. */
#ifndef OSTRELZELTO_H
#define OSTRELZELTO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OZ_API __attribute__((visibility("default")))

/* The type of an automation value. As a parameter type, OZ_VARIANT takes a value of any type; as a
 * result type, OZ_EMPTY means that the member returns nothing. */
typedef enum oz_type {
    OZ_EMPTY = 0,
    OZ_NULL = 1,
    OZ_BOOLEAN = 2,
    OZ_INTEGER = 3, /* 16 bits: a value beyond them fails with 6 */
    OZ_LONG = 4,    /* 32 bits */
    OZ_DOUBLE = 5,
    OZ_STRING = 6,
    OZ_VARIANT = 7
} oz_type;

/* An automation value. A result's text belongs to the library and stays valid until the same thread
 * calls a member again. */
typedef struct oz_value {
    int32_t type; /* oz_type */
    /* OZ_BOOLEAN (true is any non-zero value; results give 1), OZ_INTEGER, OZ_LONG */
    int32_t integer;
    double real;      /* OZ_DOUBLE */
    const char* text; /* OZ_STRING: UTF-8, ending with a NUL */
} oz_value;

typedef enum oz_kind { OZ_METHOD = 0, OZ_PROPERTY_GET = 1, OZ_PROPERTY_PUT = 2 } oz_kind;

typedef struct oz_member {
    const char* name;
    int32_t dispid;
    int32_t kind;        /* oz_kind */
    int32_t result;      /* oz_type; OZ_EMPTY for none */
    int32_t param_count; /* a property put's new value is its last parameter */
} oz_member;

typedef struct oz_board oz_board;

/* A board object whose serial port is a device (/dev/ttyUSB0), a port number as CommPort counts
 * them (1 is /dev/ttyS0), or a simulated board inside this library. The port is closed until the
 * property portopen is set to true. NULL on failure (an empty path: 8101; an invalid port number:
 * 8107). */
OZ_API oz_board* oz_board_create_device(const char* path);
OZ_API oz_board* oz_board_create_port(int32_t number);
OZ_API oz_board* oz_board_create_simulated(void);
/* Closes the port if it is open, and frees the board object. A member that another thread runs on
 * it now ends as on a closed port (within 50 ms), and the board is freed once it has left; no call
 * may start on the board once this has begun. NULL is ignored. */
OZ_API void oz_board_destroy(oz_board* board);
/* Ends the member that runs on the board now, or waits for its turn, from any thread or a signal
 * handler: it fails with 18 (User interrupt occurred) within 50 ms. Members that start later run
 * as usual, after dropping the bytes that arrived meanwhile, so that a late reply to the ended
 * member is not read as theirs. The port stays as it was. */
OZ_API void oz_board_interrupt(oz_board* board);

/* The members in the order of the automation interface's table of methods. oz_member_get and
 * oz_member_param return 0, or 5 for an index out of range. */
OZ_API int32_t oz_member_count(void);
OZ_API int32_t oz_member_get(int32_t index, oz_member* member);
OZ_API int32_t oz_member_param(int32_t index, int32_t param, const char** name, int32_t* type);

/* Calls a member with count arguments (a property put's new value last) and stores its result, when
 * result is not NULL. Returns 0 or the error number: 438 for no such member of that kind, 450 for a
 * wrong number of arguments (found before any argument is read), and every error of the member.
 * Names match in any case. */
OZ_API int32_t oz_call(oz_board* board, int32_t dispid, int32_t kind, const oz_value* args,
                       int32_t count, oz_value* result);
OZ_API int32_t oz_call_name(oz_board* board, const char* name, int32_t kind, const oz_value* args,
                            int32_t count, oz_value* result);

/* The error of this thread's last failing call, and its text; 0 and "" before any failure. */
OZ_API int32_t oz_last_error(void);
OZ_API const char* oz_last_error_text(void);

/* A serial port of the machine, as `zelto ports` lists it. Absent texts are empty. */
typedef struct oz_port {
    const char* device;
    int32_t port_number; /* the CommPort number that names it, or 0 */
    const char* by_id;   /* its stable names in /dev/serial/by-id, one per line */
    const char *vendor_id, *product_id, *serial, *manufacturer, *product; /* USB devices */
    const char* driver;
    int32_t may_open;   /* 1 when this process may open it for reading and writing */
    const char* remedy; /* what to do when it may not */
} oz_port;

typedef struct oz_port_list oz_port_list;

/* The serial ports of the machine; free the list with oz_ports_free. NULL on failure. */
OZ_API oz_port_list* oz_ports_list(void);
OZ_API int32_t oz_ports_count(const oz_port_list* list);
/* The port at index, valid until the list is freed; NULL out of range. */
OZ_API const oz_port* oz_ports_get(const oz_port_list* list, int32_t index);
OZ_API void oz_ports_free(oz_port_list* list);

#ifdef __cplusplus
}
#endif

#endif
