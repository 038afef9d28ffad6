/* The C interface: opens the board on a serial port and prints the reading of analog input 0.
 * Usage: read_a2d_c DEVICE-PATH */
#include <ostrelzelto.h>

#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: read_a2d_c DEVICE-PATH\n");
        return 2;
    }
    oz_board* board = oz_board_create_device(argv[1]);
    if (!board) {
        fprintf(stderr, "error %d: %s\n", (int)oz_last_error(), oz_last_error_text());
        return 1;
    }
    oz_value open = {OZ_BOOLEAN, 1, 0.0, NULL};
    oz_value pin = {OZ_LONG, 0, 0.0, NULL};
    oz_value value;
    int status = 0;
    if (oz_call_name(board, "portopen", OZ_PROPERTY_PUT, &open, 1, NULL) ||
        oz_call_name(board, "a2d", OZ_METHOD, &pin, 1, &value)) {
        fprintf(stderr, "error %d: %s\n", (int)oz_last_error(), oz_last_error_text());
        status = 1;
    } else {
        printf("a2d(0) = %d\n", (int)value.integer);
    }
    oz_board_destroy(board);
    return status;
}
