/*
 * board: plays a flashdrop target board inside the test guest, through the
 * kernel's USB gadget framework (configfs + dummy_hcd), so that the guest's
 * host side sees real USB devices.
 *
 *   board running SERIAL IMAGE DIR [UF2 OPTIONS]
 *       Attach as a running board: vendor 0x0D28, product 0x0204, with a HID
 *       function (report id 1, 64-byte input and output reports) and a CDC-ACM
 *       serial function. Wait for the bootloader-entry command: the HID
 *       command report (answered with an input report) or the text
 *       "bootloader" on the serial function (not answered). Then detach and
 *       attach again as a removable mass-storage device backed by IMAGE, as a
 *       board does when it jumps to its bootloader, and exit (with the UF2
 *       options: stay, and play the UF2 bootloader until SIGTERM).
 *       Everything received is recorded in DIR (see record_* below).
 *   board bootloader IMAGE [UF2 OPTIONS --record DIR]
 *       Attach directly as the bootloader's mass-storage device.
 *   board unplug
 *       Detach from the bus (the cable is pulled); the gadget stays configured.
 *   board remove
 *       Detach and delete the gadget, and detach the UF2 drive's FUSE mount.
 *
 * BOARD_UDC=N in the environment (default 0) puts the board on the guest's
 * N-th dummy_hcd controller (UDC dummy_udc.N, host side dummy_hcd.N), so that
 * several boards can be on the bus at once, each on its own port. Every
 * instance has its own gadget (usb_gadget/board, boardN), FUSE directory
 * (/run/board-drive, /run/board-driveN) and usbmon bus, finds its own disk on
 * the host side, and "unplug" and "remove" touch only their own instance.
 *
 * UF2 options: --uf2 FAMILY [--restart-ms N | --reset-before-status]
 *              [--strict] [--flash-size SIZE [--flash-base ADDRESS]]
 *       The bootloader is a UF2 bootloader of chip family FAMILY (hex). Its
 *       drive is IMAGE served through FUSE (mounted on FUSE_DIR), so that
 *       every sector the host writes reaches the board as it is written, in
 *       order. It takes the 512-byte sectors that are UF2 blocks of FAMILY (or
 *       without a family id) and restarts once it holds every block number
 *       below the blocks' count: from then on reads and writes fail with EIO
 *       and the board leaves the bus.
 *       --strict: blocks without a family id are ignored too, as boot ROMs
 *       and most bootloaders do.
 *       --flash-size SIZE (bytes; a K or M suffix, or 0x for hex): the board
 *       has that much flash from ADDRESS (hex, default 0x10000000). Each block
 *       taken writes its payload there; a block whose payload lies outside
 *       the flash is ignored (and the image then never completes).
 *       --restart-ms N: the host is sent the status of the SCSI command that
 *       carried the last block (success), and the board restarts N ms after
 *       the host has it (default 0: the next request already fails).
 *       --reset-before-status: the board restarts at the end of that
 *       command's data, before its status is sent; the host never learns
 *       that the command succeeded (bootloaders that reset from their
 *       end-of-write callback do this).
 *       --boot-serial SN (running only): the bootloader's drive carries USB
 *       serial number SN instead of the running board's, as a boot ROM that
 *       gives every chip of a revision the same one does.
 *
 * Records in DIR:
 *   events       one line per event: "hid-out N", "hid-in N", "serial N",
 *                "line-coding RATE 8N1", "detach", "bootloader", and for a
 *                UF2 bootloader "restart" (it restarted and left the bus)
 *   hid-out.bin  the bytes of every output report received, in order
 *   hid-in.bin   the input report sent back
 *   serial.bin   every byte received on the serial function
 *   ready        created once the board is attached and listening
 *   blocks       UF2 bootloader: the number of every block taken, one a line,
 *                in the order received (written at the restart and at exit)
 *   ignored      UF2 bootloader: "FAMILY COUNT" for each family whose blocks
 *                it received and did not take ("none" for blocks without a
 *                family id that it could not take), and "past-flash COUNT"
 *                for blocks of its family whose payload lies outside its flash
 *   flash.bin    UF2 bootloader with --flash-size: the flash as the blocks
 *                taken left it, erased bytes 0xFF (written with blocks)
 */
#define _GNU_SOURCE
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <glob.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

/* The UF2 bootloader's drive: IMAGE as one file of a FUSE file system. */
#define FUSE_NAME "disk"

/* This board's controller and the names that follow from it (BOARD_UDC). */
static struct {
    int n;
    char gadget[96];    /* its configfs gadget directory */
    char udc[32];       /* dummy_udc.N */
    char hcd[32];       /* "/dummy_hcd.N/": the host side's devices sit below it */
    char fuse_dir[64];  /* where its UF2 drive's FUSE file system is mounted */
    char fuse_file[96]; /* fuse_dir/FUSE_NAME */
} inst;
#define GADGET inst.gadget
#define FUSE_DIR inst.fuse_dir

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
/* --boot-serial: the bootloader's USB serial number, when not the board's. */
static const char *boot_serial;
/* SIGTERM and SIGINT, blocked in every thread and read here (see main). */
static int signal_fd = -1;

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

/* BOARD_UDC=N, default 0; instance 0 keeps the names a lone board always had. */
static void pick_instance(void)
{
    const char *v = getenv("BOARD_UDC");
    long n = 0;
    if (v && *v) {
        char *end;
        n = strtol(v, &end, 10);
        if (*end || n < 0 || n > 31)
            die("BOARD_UDC=%s: give a controller number, 0 to 31", v);
    }
    inst.n = (int)n;
    if (n) {
        snprintf(inst.gadget, sizeof inst.gadget, "/sys/kernel/config/usb_gadget/board%ld", n);
        snprintf(inst.fuse_dir, sizeof inst.fuse_dir, "/run/board-drive%ld", n);
    } else {
        snprintf(inst.gadget, sizeof inst.gadget, "/sys/kernel/config/usb_gadget/board");
        snprintf(inst.fuse_dir, sizeof inst.fuse_dir, "/run/board-drive");
    }
    snprintf(inst.udc, sizeof inst.udc, "dummy_udc.%ld", n);
    snprintf(inst.hcd, sizeof inst.hcd, "/dummy_hcd.%ld/", n);
    snprintf(inst.fuse_file, sizeof inst.fuse_file, "%s/" FUSE_NAME, inst.fuse_dir);
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
    char path[128];
    struct stat st;
    snprintf(path, sizeof path, "/sys/class/udc/%s", inst.udc);
    if (stat(path, &st) < 0)
        die("no USB device controller %s (is dummy_hcd loaded, with num= at least %d?)", inst.udc,
            inst.n + 1);
    put("UDC", inst.udc);
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

/* The usbmon text interface of this board's bus: the host side of its
 * dummy_hcd, so that another board's requests are not taken for its own. */
static void usbmon_of_bus(char *out, size_t size)
{
    char pattern[96], line[16] = "";
    glob_t g;
    snprintf(pattern, sizeof pattern, "/sys/devices/platform%susb*/busnum", inst.hcd);
    if (glob(pattern, 0, NULL, &g) != 0 || g.gl_pathc != 1)
        die("no single USB bus at %s", pattern);
    FILE *f = fopen(g.gl_pathv[0], "r");
    if (!f || !fgets(line, sizeof line, f))
        die("read %s: %s", g.gl_pathv[0], f ? "empty" : strerror(errno));
    fclose(f);
    globfree(&g);
    snprintf(out, size, "/sys/kernel/debug/usb/usbmon/%du", atoi(line));
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

/* The first line of a configfs attribute of the gadget, without its line end. */
static void get(const char *rel, char *out, size_t size)
{
    char path[512];
    snprintf(path, sizeof path, "%s/%s", GADGET, rel);
    FILE *f = fopen(path, "r");
    if (!f || !fgets(out, (int)size, f))
        die("read %s: %s", path, f ? "empty" : strerror(errno));
    fclose(f);
    out[strcspn(out, "\n")] = 0;
}

/* The device nodes of this gadget's functions: each gadget has its own HID
 * minor (/dev/hidgN) and serial port (/dev/ttyGSN). */
static void function_nodes(char *hid, size_t hid_size, char *tty, size_t tty_size)
{
    char dev[32], path[96], line[64];
    get("functions/hid.usb0/dev", dev, sizeof dev);
    snprintf(path, sizeof path, "/sys/dev/char/%s/uevent", dev);
    FILE *f = fopen(path, "r");
    hid[0] = 0;
    while (f && fgets(line, sizeof line, f)) {
        if (strncmp(line, "DEVNAME=", 8) == 0) {
            line[strcspn(line, "\n")] = 0;
            snprintf(hid, hid_size, "/dev/%s", line + 8);
        }
    }
    if (f)
        fclose(f);
    if (!hid[0])
        die("no device name in %s", path);
    get("functions/acm.usb0/port_num", dev, sizeof dev);
    snprintf(tty, tty_size, "/dev/ttyGS%s", dev);
}

/* The running firmware: returns once it has been told to enter the bootloader. */
static void run_firmware(void)
{
    char hid_path[80], tty_path[64];
    function_nodes(hid_path, sizeof hid_path, tty_path, sizeof tty_path);
    int hid = open(hid_path, O_RDWR);
    if (hid < 0)
        die("open %s: %s", hid_path, strerror(errno));
    int tty = open(tty_path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (tty < 0)
        die("open %s: %s", tty_path, strerror(errno));
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
        struct pollfd p[3] = {{.fd = hid, .events = POLLIN},
                              {.fd = tty, .events = POLLIN},
                              {.fd = signal_fd, .events = POLLIN}};
        if (poll(p, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            die("poll: %s", strerror(errno));
        }
        if (p[2].revents & POLLIN)
            exit(0); /* stopped before the command came */
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
                        die("write %s: %s", hid_path, strerror(errno));
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

/* ---- the UF2 bootloader ---- */

enum {
    UF2_BLOCK = 512,
    UF2_MAGIC_START0 = 0x0A324655,
    UF2_MAGIC_START1 = 0x9E5D5157,
    UF2_MAGIC_END = 0x0AB16F30,
    UF2_NOT_MAIN_FLASH = 0x0001,
    UF2_FAMILY_PRESENT = 0x2000,
    UF2_MAX_BLOCKS = 1 << 20,
    MAX_IGNORED_FAMILIES = 16,
};

static struct {
    uint32_t family;
    int restart_ms;
    int strict;              /* blocks without a family id are ignored */
    uint32_t flash_base;
    uint32_t flash_size;     /* 0: no flash kept */
    unsigned char *flash;
    unsigned long past_flash; /* blocks ignored for their address */
    int image_fd;
    off_t image_size;
    int done_fd; /* eventfd: every block is there */

    pthread_mutex_t lock;
    uint32_t num_blocks;   /* the count the first block taken gave */
    unsigned char *have;   /* per block number */
    uint32_t held;         /* distinct numbers held */
    uint32_t *taken;       /* every block taken, in order */
    size_t taken_len, taken_cap;
    struct { int has_id; uint32_t id; unsigned long count; } ignored[MAX_IGNORED_FAMILIES];
    int ignored_len;
    int complete;
    int restarted; /* reads and writes fail from here on */
    int reset_before_status;
    char disk[64];              /* the host side's disk of this drive, "sdb" */
    long long writes_before;    /* its completed writes before the last block's */
} uf2 = {.lock = PTHREAD_MUTEX_INITIALIZER, .image_fd = -1, .done_fd = -1,
         .flash_base = 0x10000000};

/* The host side's SCSI disk of the gadget's drive: the one below this
 * board's dummy_hcd. */
static void find_host_disk(void)
{
    char cmd[256];
    snprintf(cmd, sizeof cmd,
             "for d in /sys/block/sd*; do case $(readlink -f $d/device) in "
             "*%s*) echo ${d##*/};; esac; done", inst.hcd);
    FILE *ls = popen(cmd, "r");
    if (!ls)
        return;
    if (!fgets(uf2.disk, sizeof uf2.disk, ls))
        uf2.disk[0] = 0;
    uf2.disk[strcspn(uf2.disk, "\n")] = 0;
    pclose(ls);
}

/* The write requests the host's disk has completed (its status received),
 * or -1 once the disk is gone. */
static long long host_writes_done(void)
{
    char path[128];
    snprintf(path, sizeof path, "/sys/block/%s/stat", uf2.disk);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    unsigned long long v[5];
    int n = fscanf(f, "%llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4]);
    fclose(f);
    return n == 5 ? (long long)v[4] : -1;
}

/* Whether the host has the status of the command that carried the last
 * block: a write completed since, or the disk gone. */
static int last_block_acknowledged(void)
{
    long long now = host_writes_done();
    return now < 0 || now > uf2.writes_before;
}

static void wait_host_disk_gone(int ms)
{
    for (; ms > 0 && host_writes_done() >= 0; ms -= 5) {
        struct timespec ts = {0, 5000000};
        nanosleep(&ts, NULL);
    }
}

static uint32_t get_le32(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

static void note_ignored(int has_id, uint32_t id)
{
    for (int i = 0; i < uf2.ignored_len; i++) {
        if (uf2.ignored[i].has_id == has_id && uf2.ignored[i].id == id) {
            uf2.ignored[i].count++;
            return;
        }
    }
    if (uf2.ignored_len < MAX_IGNORED_FAMILIES)
        uf2.ignored[uf2.ignored_len++] = (typeof(uf2.ignored[0])){has_id, id, 1};
}

/* One sector as written to the drive; with uf2.lock held. */
static void take_sector(const unsigned char *s)
{
    if (get_le32(s) != UF2_MAGIC_START0 || get_le32(s + 4) != UF2_MAGIC_START1 ||
        get_le32(s + 508) != UF2_MAGIC_END)
        return; /* file system, directory, other files */
    uint32_t flags = get_le32(s + 8), target = get_le32(s + 12), payload = get_le32(s + 16);
    uint32_t number = get_le32(s + 20), count = get_le32(s + 24), family = get_le32(s + 28);
    int has_id = (flags & UF2_FAMILY_PRESENT) != 0;
    if ((has_id && family != uf2.family) || (!has_id && uf2.strict) ||
        (flags & UF2_NOT_MAIN_FLASH) || payload > 476 || count == 0 || count > UF2_MAX_BLOCKS ||
        number >= count || (uf2.num_blocks && count != uf2.num_blocks)) {
        note_ignored(has_id, family);
        return;
    }
    if (uf2.flash_size) {
        uint64_t offset = (uint64_t)target - uf2.flash_base;
        if (target < uf2.flash_base || offset + payload > uf2.flash_size) {
            uf2.past_flash++;
            return;
        }
        memcpy(uf2.flash + offset, s + 32, payload);
    }
    if (!uf2.num_blocks) {
        uf2.num_blocks = count;
        uf2.have = calloc(count, 1);
        if (!uf2.have)
            die("out of memory");
    }
    if (uf2.taken_len == uf2.taken_cap) {
        uf2.taken_cap = uf2.taken_cap ? 2 * uf2.taken_cap : 1024;
        uf2.taken = realloc(uf2.taken, uf2.taken_cap * sizeof *uf2.taken);
        if (!uf2.taken)
            die("out of memory");
    }
    uf2.taken[uf2.taken_len++] = number;
    if (!uf2.have[number]) {
        uf2.have[number] = 1;
        uf2.held++;
    }
}

static int drive_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    } else if (strcmp(path, "/" FUSE_NAME) == 0) {
        st->st_mode = S_IFREG | 0644;
        st->st_nlink = 1;
        st->st_size = uf2.image_size;
        st->st_blocks = uf2.image_size / 512;
    } else {
        return -ENOENT;
    }
    return 0;
}

static int drive_open(const char *path, struct fuse_file_info *fi)
{
    if (strcmp(path, "/" FUSE_NAME) != 0)
        return -ENOENT;
    fi->direct_io = 1; /* every read and write comes here, none is cached */
    return 0;
}

/* Every request starts here: true once the board has restarted. With
 * --restart-ms 0 that is the first request after the host got the status of
 * the last block's command. */
static int is_restarted(void)
{
    pthread_mutex_lock(&uf2.lock);
    if (!uf2.restarted && uf2.complete && uf2.restart_ms == 0 && last_block_acknowledged())
        uf2.restarted = 1;
    int r = uf2.restarted;
    pthread_mutex_unlock(&uf2.lock);
    return r;
}

static int drive_read(const char *path, char *buf, size_t size, off_t off, struct fuse_file_info *fi)
{
    (void)path, (void)fi;
    if (is_restarted())
        return -EIO;
    ssize_t n = pread(uf2.image_fd, buf, size, off);
    return n < 0 ? -errno : (int)n;
}

static int drive_write(const char *path, const char *buf, size_t size, off_t off,
                       struct fuse_file_info *fi)
{
    (void)path, (void)fi;
    if (is_restarted())
        return -EIO;
    ssize_t n = pwrite(uf2.image_fd, buf, size, off);
    if (n <= 0)
        return n < 0 ? -errno : -EIO;
    if (!uf2.disk[0])
        find_host_disk();
    /* Every sector the write touched, as it now stands on the drive. */
    pthread_mutex_lock(&uf2.lock);
    for (off_t s = off / UF2_BLOCK * UF2_BLOCK; s < off + n; s += UF2_BLOCK) {
        unsigned char sector[UF2_BLOCK];
        if (pread(uf2.image_fd, sector, sizeof sector, s) == (ssize_t)sizeof sector)
            take_sector(sector);
    }
    int now_complete = !uf2.complete && uf2.num_blocks && uf2.held == uf2.num_blocks;
    if (now_complete) {
        uf2.complete = 1;
        /* This command has not completed on the host yet: it is not counted. */
        uf2.writes_before = host_writes_done();
        if (uf2.reset_before_status)
            uf2.restarted = 1;
    }
    pthread_mutex_unlock(&uf2.lock);
    if (now_complete) {
        uint64_t one = 1;
        if (write(uf2.done_fd, &one, sizeof one) != sizeof one)
            die("eventfd: %s", strerror(errno));
        /* The board leaves the bus (the main thread unbinds it) before the
         * gadget can send this command's status: answer the write only once
         * the host has seen the disconnect and dropped its disk. */
        if (uf2.reset_before_status)
            wait_host_disk_gone(5000);
    }
    return (int)n;
}

static int drive_fsync(const char *path, int datasync, struct fuse_file_info *fi)
{
    (void)path, (void)datasync, (void)fi;
    return is_restarted() ? -EIO : 0;
}

static int drive_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t off,
                         struct fuse_file_info *fi, enum fuse_readdir_flags flags)
{
    (void)off, (void)fi, (void)flags;
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    fill(buf, FUSE_NAME, NULL, 0, 0);
    return 0;
}

static void *drive_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    return NULL;
}

static const struct fuse_operations drive_ops = {
    .init = drive_init,
    .getattr = drive_getattr,
    .open = drive_open,
    .read = drive_read,
    .write = drive_write,
    .fsync = drive_fsync,
    .readdir = drive_readdir,
};

static void *serve_drive(void *arg)
{
    fuse_loop(arg);
    return NULL;
}

static void detach_fuse_dir(void)
{
    if (umount2(FUSE_DIR, MNT_DETACH) < 0 && errno != EINVAL && errno != ENOENT)
        fprintf(stderr, "board: umount %s: %s\n", FUSE_DIR, strerror(errno));
}

/* Serves IMAGE on FUSE_DIR/FUSE_NAME from a thread of its own, so that the
 * gadget can open it; returns the path to give the gadget. */
static const char *serve_image(const char *image)
{
    uf2.image_fd = open(image, O_RDWR);
    if (uf2.image_fd < 0)
        die("open %s: %s", image, strerror(errno));
    struct stat st;
    if (fstat(uf2.image_fd, &st) < 0)
        die("stat %s: %s", image, strerror(errno));
    uf2.image_size = st.st_size;
    uf2.done_fd = eventfd(0, EFD_CLOEXEC);
    if (uf2.done_fd < 0)
        die("eventfd: %s", strerror(errno));

    detach_fuse_dir(); /* a mount a board before this one left behind */
    if (mkdir(FUSE_DIR, 0755) < 0 && errno != EEXIST)
        die("mkdir %s: %s", FUSE_DIR, strerror(errno));
    char *argv[] = {"board", "-o", "fsname=board-drive", NULL};
    struct fuse_args args = FUSE_ARGS_INIT(3, argv);
    struct fuse *fuse = fuse_new(&args, &drive_ops, sizeof drive_ops, NULL);
    if (!fuse)
        die("fuse_new failed (is the fuse module loaded?)");
    if (fuse_mount(fuse, FUSE_DIR) != 0)
        die("cannot mount the drive's FUSE file system on %s", FUSE_DIR);
    pthread_t th;
    if (pthread_create(&th, NULL, serve_drive, fuse) != 0)
        die("pthread_create failed");
    return inst.fuse_file;
}

static void write_uf2_records(void)
{
    char path[512];
    pthread_mutex_lock(&uf2.lock);
    size_t len = 0;
    char *text = malloc(uf2.taken_len * 12 + 1);
    if (!text)
        die("out of memory");
    for (size_t i = 0; i < uf2.taken_len; i++)
        len += (size_t)sprintf(text + len, "%u\n", (unsigned)uf2.taken[i]);
    char ignored[MAX_IGNORED_FAMILIES * 40] = "";
    size_t ilen = 0;
    for (int i = 0; i < uf2.ignored_len; i++) {
        if (uf2.ignored[i].has_id)
            ilen += (size_t)sprintf(ignored + ilen, "0x%08X %lu\n", (unsigned)uf2.ignored[i].id,
                                    uf2.ignored[i].count);
        else
            ilen += (size_t)sprintf(ignored + ilen, "none %lu\n", uf2.ignored[i].count);
    }
    if (uf2.past_flash)
        ilen += (size_t)sprintf(ignored + ilen, "past-flash %lu\n", uf2.past_flash);
    snprintf(path, sizeof path, "%s/blocks", record_dir);
    write_file(path, text, len, O_CREAT | O_TRUNC);
    snprintf(path, sizeof path, "%s/ignored", record_dir);
    write_file(path, ignored, ilen, O_CREAT | O_TRUNC);
    if (uf2.flash_size) {
        snprintf(path, sizeof path, "%s/flash.bin", record_dir);
        write_file(path, uf2.flash, uf2.flash_size, O_CREAT | O_TRUNC);
    }
    pthread_mutex_unlock(&uf2.lock);
    free(text);
}

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static void restart_board(void)
{
    pthread_mutex_lock(&uf2.lock);
    uf2.restarted = 1;
    pthread_mutex_unlock(&uf2.lock);
    detach(); /* the reset takes the board off the bus */
    record_event("restart");
    write_uf2_records();
    printf("board: restarted, %zu blocks taken\n", uf2.taken_len);
}

/* The bootloader at work, its drive attached: restarts once it holds the
 * whole image; returns on SIGTERM or SIGINT, the records written. */
static void run_uf2_bootloader(void)
{
    long long restart_at = -1, ack_deadline = -1, complete_at = 0;
    int restarted = 0;
    for (;;) {
        int timeout = -1;
        if (ack_deadline >= 0) {
            timeout = 2; /* watching for the host to get the command's status */
        } else if (restart_at >= 0 && !restarted) {
            long long left = restart_at - now_ms();
            timeout = left > 0 ? (int)left : 0;
        }
        struct pollfd p[2] = {{.fd = uf2.done_fd, .events = POLLIN},
                              {.fd = signal_fd, .events = POLLIN}};
        if (poll(p, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            die("poll: %s", strerror(errno));
        }
        if (p[1].revents & POLLIN)
            break;
        if (p[0].revents & POLLIN) {
            uint64_t v;
            if (read(uf2.done_fd, &v, sizeof v) < 0)
                die("eventfd: %s", strerror(errno));
            complete_at = now_ms();
            printf("board: all %u blocks held (host disk %s)\n", (unsigned)uf2.num_blocks,
                   uf2.disk[0] ? uf2.disk : "not found");
            if (uf2.reset_before_status)
                restart_at = complete_at;
            else
                ack_deadline = complete_at + 5000;
        }
        if (ack_deadline >= 0) {
            pthread_mutex_lock(&uf2.lock);
            int acked = last_block_acknowledged();
            pthread_mutex_unlock(&uf2.lock);
            if (acked || now_ms() >= ack_deadline) {
                printf("board: %s after %lld ms; restart in %d ms\n",
                       acked ? "the host has the last block's status" : "no status seen",
                       now_ms() - complete_at, uf2.restart_ms);
                ack_deadline = -1;
                restart_at = now_ms() + uf2.restart_ms;
            }
        }
        if (restart_at >= 0 && !restarted && ack_deadline < 0 && now_ms() >= restart_at) {
            restart_board();
            restarted = 1;
        }
    }
    write_uf2_records();
}

/* "262144", "0x40000", "256K", "2M": bytes, or 0 when not a size. */
static uint32_t parse_size(const char *text)
{
    char *end;
    unsigned long long v = strtoull(text, &end, 0);
    if (*end == 'K' || *end == 'k')
        v <<= 10, end++;
    else if (*end == 'M' || *end == 'm')
        v <<= 20, end++;
    return *end || v > (1ull << 30) ? 0 : (uint32_t)v;
}

static int is_flag(const char *arg)
{
    return strcmp(arg, "--reset-before-status") == 0 || strcmp(arg, "--strict") == 0;
}

/* Parses [--uf2 FAMILY] [--restart-ms N] [--reset-before-status] [--strict]
 * [--flash-size SIZE] [--flash-base ADDRESS] [--record DIR] [--boot-serial SN]
 * from argv[from]. */
static int uf2_options(int argc, char **argv, int from, int *uf2_mode)
{
    *uf2_mode = 0;
    for (int i = from; i < argc; i += 2) {
        if (i + 1 >= argc && !is_flag(argv[i]))
            return 0;
        char *end;
        if (strcmp(argv[i], "--uf2") == 0) {
            unsigned long v = strtoul(argv[i + 1], &end, 16);
            if (*end || v > 0xFFFFFFFFul)
                return 0;
            uf2.family = (uint32_t)v;
            *uf2_mode = 1;
        } else if (strcmp(argv[i], "--restart-ms") == 0) {
            long v = strtol(argv[i + 1], &end, 10);
            if (*end || v < 0 || v > 600000)
                return 0;
            uf2.restart_ms = (int)v;
        } else if (strcmp(argv[i], "--record") == 0) {
            record_dir = argv[i + 1];
        } else if (strcmp(argv[i], "--boot-serial") == 0) {
            boot_serial = argv[i + 1];
        } else if (strcmp(argv[i], "--reset-before-status") == 0) {
            uf2.reset_before_status = 1;
            i--; /* no value */
        } else if (strcmp(argv[i], "--strict") == 0) {
            uf2.strict = 1;
            i--;
        } else if (strcmp(argv[i], "--flash-size") == 0) {
            if (!(uf2.flash_size = parse_size(argv[i + 1])))
                return 0;
        } else if (strcmp(argv[i], "--flash-base") == 0) {
            unsigned long v = strtoul(argv[i + 1], &end, 16);
            if (*end || v > 0xFFFFFFFFul)
                return 0;
            uf2.flash_base = (uint32_t)v;
        } else {
            return 0;
        }
    }
    if (uf2.flash_size) {
        uf2.flash = malloc(uf2.flash_size);
        if (!uf2.flash)
            die("out of memory");
        memset(uf2.flash, 0xFF, uf2.flash_size); /* erased */
    }
    return 1;
}

static void block_stop_signals(void)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    /* Before any thread starts, so that every thread inherits the mask. */
    if (sigprocmask(SIG_BLOCK, &set, NULL) < 0 || (signal_fd = signalfd(-1, &set, SFD_CLOEXEC)) < 0)
        die("signalfd: %s", strerror(errno));
}

static int usage(void)
{
    fprintf(stderr, "usage: board running SERIAL IMAGE DIR [UF2 OPTIONS]\n"
                    "       board bootloader IMAGE [UF2 OPTIONS --record DIR]\n"
                    "UF2 OPTIONS: --uf2 FAMILY [--restart-ms N | --reset-before-status]\n"
                    "             [--strict] [--flash-size SIZE [--flash-base ADDRESS]]\n"
                    "             [--boot-serial SN] (running only)\n"
                    "       board unplug | board remove\n"
                    "BOARD_UDC=N: the board on controller dummy_udc.N (default 0)\n");
    return 2;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    pick_instance();
    int uf2_mode;
    if (argc >= 5 && strcmp(argv[1], "running") == 0) {
        const char *serial = argv[2], *image = argv[3];
        record_dir = argv[4];
        if (!uf2_options(argc, argv, 5, &uf2_mode) || record_dir != argv[4])
            return usage();
        block_stop_signals();

        char usbmon[96];
        usbmon_of_bus(usbmon, sizeof usbmon);
        FILE *mon = fopen(usbmon, "r");
        if (!mon)
            die("open %s: %s (usbmon loaded, debugfs mounted?)", usbmon, strerror(errno));
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
        if (boot_serial)
            put("strings/0x409/serialnumber", boot_serial);
        add_mass_storage(uf2_mode ? serve_image(image) : image);
        attach();
        record_event("bootloader");
        if (uf2_mode)
            run_uf2_bootloader();
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "bootloader") == 0) {
        if (!uf2_options(argc, argv, 3, &uf2_mode) || (uf2_mode && !record_dir) || boot_serial)
            return usage();
        block_stop_signals();
        create_gadget("BRV-BOOT-0001", "Brevon Test Board Bootloader");
        add_mass_storage(uf2_mode ? serve_image(argv[2]) : argv[2]);
        attach();
        if (uf2_mode) {
            record_event("bootloader");
            run_uf2_bootloader();
        }
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "unplug") == 0) {
        if (gadget_exists())
            detach();
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "remove") == 0) {
        remove_gadget();
        detach_fuse_dir();
        return 0;
    }
    return usage();
}
