/*
 * board: plays a flashdrop target board inside the test guest, through the
 * kernel's USB gadget framework (configfs + dummy_hcd), so that the guest's
 * host side sees real USB devices.
 *
 *   board running SERIAL IMAGE DIR
 *       Attach as a running board: vendor 0x0D28, product 0x0204, with a HID
 *       function (report id 1, 64-byte input and output reports) and a CDC-ACM
 *       serial function. Wait for the bootloader-entry command: the HID
 *       command report (answered with an input report) or the text
 *       "bootloader" on the serial function (not answered). Then detach and
 *       attach again as a removable mass-storage device backed by IMAGE, as a
 *       board does when it jumps to its bootloader, and exit.
 *       Everything received is recorded in DIR (see record_* below).
 *   board bootloader IMAGE
 *       Attach directly as the bootloader's mass-storage device.
 *   board unplug
 *       Detach from the bus (the cable is pulled); the gadget stays configured.
 *   board remove
 *       Detach and delete the gadget.
 *
 * Records in DIR:
 *   events       one line per event: "hid-out N", "hid-in N", "serial N",
 *                "line-coding RATE 8N1", "detach", "bootloader"
 *   hid-out.bin  the bytes of every output report received, in order
 *   hid-in.bin   the input report sent back
 *   serial.bin   every byte received on the serial function
 *   ready        created once the board is attached and listening
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define GADGET "/sys/kernel/config/usb_gadget/board"
#define USBMON "/sys/kernel/debug/usb/usbmon/0u"

static const char command_text[] = "{\"name\":\"entry_brevon_bl\"}";
static const char serial_command[] = "bootloader";
static const char reply_text[] = "{\"result\":\"ok\"}";

enum { REPORT_PAYLOAD = 64, REPORT_LENGTH = REPORT_PAYLOAD + 1 };

/* Vendor-defined collection, report id 1, 64-byte input and output reports. */
static const unsigned char report_desc[] = {
    0x06, 0x00, 0xFF, /* Usage Page (Vendor 0xFF00) */
    0x09, 0x01,       /* Usage (1) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, 0x01,       /*   Report ID (1) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x95, 0x40,       /*   Report Count (64) */
    0x09, 0x01,       /*   Usage (1) */
    0x81, 0x02,       /*   Input (Data, Variable, Absolute) */
    0x95, 0x40,       /*   Report Count (64) */
    0x09, 0x01,       /*   Usage (1) */
    0x91, 0x02,       /*   Output (Data, Variable, Absolute) */
    0xC0,             /* End Collection */
};

static const char *record_dir;

static void die(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fprintf(stderr, "board: ");
    vfprintf(stderr, fmt, ap);
    fprintf(stderr, "\n");
    va_end(ap);
    exit(1);
}

static void write_file(const char *path, const void *data, size_t len, int flags)
{
    int fd = open(path, O_WRONLY | flags, 0644);
    if (fd < 0)
        die("open %s: %s", path, strerror(errno));
    const char *p = data;
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0)
            die("write %s: %s", path, strerror(errno));
        p += n;
        len -= (size_t)n;
    }
    if (close(fd) < 0)
        die("close %s: %s", path, strerror(errno));
}

/* Write one configfs attribute; path is relative to the gadget. */
static void put(const char *rel, const char *value)
{
    char path[512];
    snprintf(path, sizeof path, "%s/%s", GADGET, rel);
    write_file(path, value, strlen(value), 0);
}

static void make_dir(const char *rel)
{
    char path[512];
    snprintf(path, sizeof path, "%s%s%s", GADGET, *rel ? "/" : "", rel);
    if (mkdir(path, 0755) < 0 && errno != EEXIST)
        die("mkdir %s: %s", path, strerror(errno));
}

static void remove_dir(const char *rel)
{
    char path[512];
    snprintf(path, sizeof path, "%s%s%s", GADGET, *rel ? "/" : "", rel);
    if (rmdir(path) < 0 && errno != ENOENT)
        die("rmdir %s: %s", path, strerror(errno));
}

static void add_function(const char *name)
{
    char target[512], link_path[512];
    snprintf(target, sizeof target, "%s/functions/%s", GADGET, name);
    snprintf(link_path, sizeof link_path, "%s/configs/c.1/%s", GADGET, name);
    if (symlink(target, link_path) < 0)
        die("link %s: %s", name, strerror(errno));
}

static void drop_function(const char *name)
{
    char link_path[512], rel[256];
    snprintf(link_path, sizeof link_path, "%s/configs/c.1/%s", GADGET, name);
    if (unlink(link_path) < 0 && errno != ENOENT)
        die("unlink %s: %s", link_path, strerror(errno));
    snprintf(rel, sizeof rel, "functions/%s", name);
    remove_dir(rel);
}

static int gadget_exists(void)
{
    struct stat st;
    return stat(GADGET, &st) == 0;
}

static void attach(void)
{
    char udc[128] = "";
    FILE *ls = popen("ls /sys/class/udc", "r");
    if (!ls || !fgets(udc, sizeof udc, ls))
        die("no USB device controller (is dummy_hcd loaded?)");
    pclose(ls);
    put("UDC", udc);
}

static void detach(void)
{
    char path[512], cur[128] = "";
    snprintf(path, sizeof path, "%s/UDC", GADGET);
    FILE *f = fopen(path, "r");
    if (f) {
        if (!fgets(cur, sizeof cur, f))
            cur[0] = 0;
        fclose(f);
    }
    if (cur[0] && cur[0] != '\n')
        put("UDC", "\n");
}

static void remove_gadget(void)
{
    if (!gadget_exists())
        return;
    detach();
    drop_function("hid.usb0");
    drop_function("acm.usb0");
    drop_function("mass_storage.usb0");
    remove_dir("configs/c.1/strings/0x409");
    remove_dir("configs/c.1");
    remove_dir("strings/0x409");
    remove_dir("");
}

/* Device identity shared by both modes; a config with no functions yet. */
static void create_gadget(const char *serial, const char *product)
{
    remove_gadget();
    make_dir("");
    put("idVendor", "0x0d28");
    put("idProduct", "0x0204");
    put("bcdDevice", "0x0100");
    put("bcdUSB", "0x0200");
    /* Miscellaneous class with interface association, as composite
     * devices carrying CDC-ACM announce themselves. */
    put("bDeviceClass", "0xef");
    put("bDeviceSubClass", "0x02");
    put("bDeviceProtocol", "0x01");
    make_dir("strings/0x409");
    put("strings/0x409/serialnumber", serial);
    put("strings/0x409/manufacturer", "Brevon Testworks");
    put("strings/0x409/product", product);
    make_dir("configs/c.1");
    make_dir("configs/c.1/strings/0x409");
    put("configs/c.1/strings/0x409/configuration", "flashdrop test board");
    put("configs/c.1/MaxPower", "100");
}

static void add_mass_storage(const char *image)
{
    make_dir("functions/mass_storage.usb0");
    put("functions/mass_storage.usb0/lun.0/removable", "1");
    put("functions/mass_storage.usb0/lun.0/ro", "0");
    put("functions/mass_storage.usb0/lun.0/file", image);
    add_function("mass_storage.usb0");
}

/* ---- records ---- */

static void record_event(const char *fmt, ...)
{
    char line[256], path[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line - 1, fmt, ap);
    va_end(ap);
    strcat(line, "\n");
    snprintf(path, sizeof path, "%s/events", record_dir);
    write_file(path, line, strlen(line), O_CREAT | O_APPEND);
}

static void record_bytes(const char *name, const void *data, size_t len)
{
    char path[512];
    snprintf(path, sizeof path, "%s/%s", record_dir, name);
    write_file(path, data, len, O_CREAT | O_APPEND);
}

static int hexval(int c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/*
 * The gadget's serial function does not pass on the line coding the host
 * sets, so it is taken from the bus: usbmon shows every CDC SET_LINE_CODING
 * request (class request 0x20 to an interface, 7 data bytes).
 * Text line: "... S Co:1:002:0 s 21 20 0000 0000 0007 7 = 80250000 000008"
 */
static void *watch_line_coding(void *arg)
{
    FILE *mon = arg;
    char line[1024];
    while (fgets(line, sizeof line, mon)) {
        if (!strstr(line, " S Co:") || !strstr(line, " s 21 20 "))
            continue;
        char *p = strstr(line, " = ");
        if (!p)
            continue;
        unsigned char b[7];
        int n = 0, hi = -1;
        for (p += 3; *p && *p != '\n' && n < 7; p++) {
            int v = hexval((unsigned char)*p);
            if (v < 0)
                continue;
            if (hi < 0) {
                hi = v;
            } else {
                b[n++] = (unsigned char)(hi << 4 | v);
                hi = -1;
            }
        }
        if (n != 7)
            continue;
        unsigned rate = b[0] | b[1] << 8 | b[2] << 16 | (unsigned)b[3] << 24;
        static const char parity[] = "NOEMS";
        static const char *stop[] = {"1", "1.5", "2"};
        record_event("line-coding %u %u%c%s", rate, b[6],
                     b[5] < 5 ? parity[b[5]] : '?', b[4] < 3 ? stop[b[4]] : "?");
    }
    return NULL;
}

static int starts_with_command(const unsigned char *r, ssize_t n)
{
    size_t len = sizeof command_text - 1;
    return n >= (ssize_t)(1 + len) && r[0] == 0x01 && memcmp(r + 1, command_text, len) == 0;
}

static int wait_fd(int fd, short events, int ms)
{
    struct pollfd p = {.fd = fd, .events = events};
    return poll(&p, 1, ms) == 1 && (p.revents & events);
}

static void sleep_ms(int ms)
{
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

/* The running firmware: returns once it has been told to enter the bootloader. */
static void run_firmware(void)
{
    int hid = open("/dev/hidg0", O_RDWR);
    if (hid < 0)
        die("open /dev/hidg0: %s", strerror(errno));
    int tty = open("/dev/ttyGS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (tty < 0)
        die("open /dev/ttyGS0: %s", strerror(errno));
    struct termios t;
    if (tcgetattr(tty, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(tty, TCSANOW, &t);
    }

    char path[512];
    snprintf(path, sizeof path, "%s/ready", record_dir);
    write_file(path, "", 0, O_CREAT | O_TRUNC);

    unsigned char serial_buf[4096];
    size_t serial_len = 0;
    for (;;) {
        struct pollfd p[2] = {{.fd = hid, .events = POLLIN}, {.fd = tty, .events = POLLIN}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            die("poll: %s", strerror(errno));
        }
        if (p[0].revents & POLLIN) {
            unsigned char r[1024];
            ssize_t n = read(hid, r, sizeof r);
            if (n > 0) {
                record_bytes("hid-out.bin", r, (size_t)n);
                record_event("hid-out %zd", n);
                if (starts_with_command(r, n)) {
                    unsigned char reply[REPORT_LENGTH] = {0x01};
                    memcpy(reply + 1, reply_text, sizeof reply_text - 1);
                    if (write(hid, reply, sizeof reply) != (ssize_t)sizeof reply)
                        die("write /dev/hidg0: %s", strerror(errno));
                    record_bytes("hid-in.bin", reply, sizeof reply);
                    record_event("hid-in %zu", sizeof reply);
                    /* Writable again once the host has taken the report. */
                    if (!wait_fd(hid, POLLOUT, 5000))
                        record_event("hid-in not collected");
                    break;
                }
            }
        }
        if (p[1].revents & POLLIN) {
            ssize_t n = read(tty, serial_buf + serial_len, sizeof serial_buf - serial_len - 1);
            if (n > 0) {
                record_bytes("serial.bin", serial_buf + serial_len, (size_t)n);
                serial_len += (size_t)n;
                serial_buf[serial_len] = 0;
                if (memmem(serial_buf, serial_len, serial_command, sizeof serial_command - 1)) {
                    /* Take whatever else the host sent with it. */
                    while (wait_fd(tty, POLLIN, 300)) {
                        n = read(tty, serial_buf, sizeof serial_buf);
                        if (n <= 0)
                            break;
                        record_bytes("serial.bin", serial_buf, (size_t)n);
                        serial_len += (size_t)n;
                    }
                    break;
                }
                if (serial_len > sizeof serial_buf / 2)
                    serial_len = 0;
            }
        }
    }
    if (serial_len)
        record_event("serial %zu", serial_len);
    /* Give the host a moment to read the reply before the device goes away. */
    sleep_ms(300);
    close(hid);
    close(tty);
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc == 5 && strcmp(argv[1], "running") == 0) {
        const char *serial = argv[2], *image = argv[3];
        record_dir = argv[4];

        FILE *mon = fopen(USBMON, "r");
        if (!mon)
            die("open %s: %s (usbmon loaded, debugfs mounted?)", USBMON, strerror(errno));
        setvbuf(mon, NULL, _IONBF, 0);
        pthread_t th;
        pthread_create(&th, NULL, watch_line_coding, mon);

        create_gadget(serial, "Brevon Test Board");
        make_dir("functions/hid.usb0");
        put("functions/hid.usb0/protocol", "0");
        put("functions/hid.usb0/subclass", "0");
        char len[16];
        snprintf(len, sizeof len, "%d", REPORT_LENGTH);
        put("functions/hid.usb0/report_length", len);
        char path[512];
        snprintf(path, sizeof path, "%s/functions/hid.usb0/report_desc", GADGET);
        write_file(path, report_desc, sizeof report_desc, 0);
        make_dir("functions/acm.usb0");
        add_function("hid.usb0");
        add_function("acm.usb0");
        attach();

        run_firmware();

        /* Jump to the bootloader: drop off the bus, come back as a drive. */
        detach();
        record_event("detach");
        drop_function("hid.usb0");
        drop_function("acm.usb0");
        put("strings/0x409/product", "Brevon Test Board Bootloader");
        add_mass_storage(image);
        attach();
        record_event("bootloader");
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "bootloader") == 0) {
        create_gadget("BRV-BOOT-0001", "Brevon Test Board Bootloader");
        add_mass_storage(argv[2]);
        attach();
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "unplug") == 0) {
        if (gadget_exists())
            detach();
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "remove") == 0) {
        remove_gadget();
        return 0;
    }
    fprintf(stderr,
            "usage: board running SERIAL IMAGE DIR | board bootloader IMAGE | board unplug | board remove\n");
    return 2;
}
