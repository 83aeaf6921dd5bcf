package qtest;

import at.Quarvel.util.jni.CardAdminException;
import at.Quarvel.util.jni.FileInfo;
import at.Quarvel.util.jni.Reader;
import at.Quarvel.util.jni.ReaderFactory;
import at.Quarvel.util.jni.SCard;

/**
 * The Java layer's road to a card, as the tests of the reader and card natives drive
 * it: each step appends a line "step value" to the report it returns, so the test
 * compares what Java saw. Byte values are upper-case hex; codes are hex ints; a
 * CardAdminException is "! code message".
 */
public final class CardRoad {
    private CardRoad() {}

    private static Reader reader;
    private static SCard card;

    static String hex(byte[] bytes) {
        if (bytes == null) return "null";
        StringBuilder s = new StringBuilder();
        for (byte b : bytes) s.append(String.format("%02X", b & 0xFF));
        return s.toString();
    }

    static byte[] bytes(String hex) {
        if (hex == null) return null;
        byte[] out = new byte[hex.length() / 2];
        for (int i = 0; i < out.length; ++i) out[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        return out;
    }

    static String code(int c) {
        return Integer.toHexString(c);
    }

    static String thrown(CardAdminException e) {
        return "! " + Integer.toHexString(e.code) + " " + e.getMessage();
    }

    /** ReaderFactory.getReader: "reader null" or "reader <name>". */
    public static String getReader() {
        reader = ReaderFactory.getReader();
        if (reader == null) return "reader null";
        try {
            return "reader " + reader.getName() + " peer " + (reader.peer != 0);
        } catch (CardAdminException e) {
            return "reader " + thrown(e);
        }
    }

    /** connect: the card's Java class and ATR, or the exception. */
    public static String connect() {
        try {
            card = reader.connect();
            if (card == null) return "card null";
            return "card " + card.getClass().getSimpleName() + " atr " + hex(card.getATR());
        } catch (CardAdminException e) {
            return "card " + thrown(e);
        }
    }

    /** Selects each two-byte identifier in turn, opens the file and reads it to its end. */
    public static String readFile(String path, String fid) {
        StringBuilder r = new StringBuilder();
        for (int i = 0; i < path.length(); i += 4)
            r.append("select ").append(code(card.changeDirectoryWithFID(bytes(path.substring(i, i + 4))))).append('\n');
        try {
            int handle = card.open(bytes(fid));
            FileInfo info = card.getFileInfo(handle);
            r.append("info ").append(info.type).append(' ').append(info.size).append('\n');
            StringBuilder content = new StringBuilder();
            try {
                for (;;) {
                    byte[] part = card.read(handle);
                    if (part.length == 0) break;
                    content.append(hex(part));
                }
            } catch (CardAdminException e) {
                r.append("end ").append(code(e.code)).append('\n');
            }
            r.append("content ").append(content).append('\n');
            r.append("close ").append(code(card.close(handle))).append('\n');
            card.getFileInfo(handle);
        } catch (CardAdminException e) {
            r.append(thrown(e)).append('\n');
        }
        return r.toString();
    }

    /** Record files: read (count 1500), readlen with the length, then readlen with 4, of the records in turn. */
    public static String readRecords(String fid, int length) {
        StringBuilder r = new StringBuilder();
        try {
            int handle = card.open(bytes(fid));
            row(r, "read", () -> card.read(handle));
            row(r, "readlen", () -> card.readlen(handle, length));
            row(r, "readlen", () -> card.readlen(handle, 4));
            card.close(handle);
        } catch (CardAdminException e) {
            r.append(thrown(e)).append('\n');
        }
        return r.toString();
    }

    /**
     * A wrong PIN, then the right one; with query, the PIN status (getFBZ) before, between
     * and after.
     */
    public static String pins(int kid, String pin, String wrong, boolean query) {
        StringBuilder r = new StringBuilder();
        if (query) r.append("fbz ").append(code(card.getFBZ(kid))).append('\n');
        r.append("wrong ").append(code(card.verifyPIN(kid, bytes(wrong)))).append('\n');
        if (query) r.append("fbz ").append(code(card.getFBZ(kid))).append('\n');
        r.append("right ").append(code(card.verifyPIN(kid, bytes(pin)))).append('\n');
        if (query) r.append("fbz ").append(code(card.getFBZ(kid))).append('\n');
        return r.toString();
    }

    /** A wrong PIN three times, then the PIN status. */
    public static String block(int kid, String wrong) {
        StringBuilder r = new StringBuilder();
        for (int i = 0; i < 3; ++i) r.append("wrong ").append(code(card.verifyPIN(kid, bytes(wrong)))).append('\n');
        r.append("fbz ").append(code(card.getFBZ(kid))).append('\n');
        return r.toString();
    }

    /**
     * signInit, signUpdate in chunks of 1000 bytes, then signFinal_PIN with the PIN, or
     * signFinal (the PIN on the reader's pad) when pin is null.
     */
    public static String sign(int kid, String parameter, int algorithm, byte[] data, String pin) {
        StringBuilder r = new StringBuilder();
        r.append("init ").append(code(card.signInit(kid, bytes(parameter), algorithm))).append('\n');
        for (int at = 0; at < data.length; at += 1000) {
            byte[] chunk = java.util.Arrays.copyOfRange(data, at, Math.min(data.length, at + 1000));
            int result = card.signUpdate(chunk);
            if (result != 0) r.append("update ").append(code(result)).append('\n');
        }
        try {
            byte[] signature = pin == null ? card.signFinal(kid, false) : card.signFinal_PIN(kid, false, bytes(pin));
            r.append("signature ").append(hex(signature)).append('\n');
        } catch (CardAdminException e) {
            r.append("signature ").append(thrown(e)).append('\n');
        }
        return r.toString();
    }

    /** unblockPIN of the card's own class, by reflection on the Java side's methods. */
    public static String unblock(int kid, String code, String newPin) {
        try {
            if (newPin == null)
                return "unblock " + code((Integer) card.getClass().getMethod("unblockPIN", int.class, byte[].class)
                        .invoke(card, kid, bytes(code)));
            return "unblock " + code((Integer) card.getClass()
                    .getMethod("unblockPIN", int.class, byte[].class, byte[].class)
                    .invoke(card, kid, bytes(code), bytes(newPin)));
        } catch (ReflectiveOperationException e) {
            return "unblock " + e;
        }
    }

    /** releaseInstance twice, then what the old reader and card objects answer. */
    public static String release() {
        StringBuilder r = new StringBuilder();
        r.append("release ").append(ReaderFactory.releaseInstance(reader)).append(' ')
                .append(ReaderFactory.releaseInstance(reader)).append('\n');
        r.append("reader ").append(code(reader.getStatus())).append('\n');
        r.append("card ").append(code(card.getFBZ(1))).append('\n');
        try {
            card.getATR();
        } catch (CardAdminException e) {
            r.append(thrown(e)).append('\n');
        }
        Reader none = new Reader();
        r.append("none ").append(code(ReaderFactory.releaseInstance(none))).append(' ')
                .append(code(ReaderFactory.releaseInstance(null))).append('\n');
        return r.toString();
    }

    /** The reader natives that forward to the reader, on the current reader. */
    public static String readerRows() {
        StringBuilder r = new StringBuilder();
        row(r, "getName", () -> reader.getName());
        row(r, "getCTAPIName", () -> reader.getCTAPIName());
        row(r, "isSecure", () -> reader.isSecure());
        row(r, "shallUseGUI", () -> reader.shallUseGUI());
        row(r, "performVerification", () -> reader.performVerification(0x81, 2, 0));
        row(r, "performVerification_EXT", () -> reader.performVerification_EXT(0x81, 2, 0, 6, 0, new byte[0], new byte[0]));
        row(r, "activateVerification", () -> reader.activateVerification(0x81, 2, 6));
        row(r, "activateVerification_KOBIL", () -> reader.activateVerification_KOBIL(0x81, 2, 6));
        return r.toString();
    }

    /** A card object given the reader's peer, and a reader given the card's: neither names anything. */
    public static String crossed() {
        at.Quarvel.util.jni.BankCard c = new at.Quarvel.util.jni.BankCard();
        c.peer = reader.peer;
        Reader rd = new Reader();
        rd.peer = card.peer;
        return "card " + code(c.getFBZ(1)) + "\nreader " + code(rd.getStatus()) + "\n";
    }

    /** Card objects kept across reset and across disconnect: their cards are gone. */
    public static String stale() {
        StringBuilder r = new StringBuilder();
        try {
            SCard first = reader.connect();
            row(r, "before", () -> first.getHashAlg());
            row(r, "reset", () -> reader.reset(true));
            row(r, "after reset", () -> first.getHashAlg());
            row(r, "after reset", () -> first.getATR());
            SCard second = reader.connect();
            row(r, "disconnect", () -> reader.disconnect());
            row(r, "after disconnect", () -> second.getHashAlg());
            row(r, "after disconnect", () -> second.read(0));
        } catch (CardAdminException e) {
            r.append(thrown(e)).append('\n');
        }
        return r.toString();
    }

    /**
     * In the directory path: the table of open files, a write at an offset read back,
     * the refusals of write, open and changeDirectoryWithFID, a raw command, the public key.
     * The card has a writable transparent file 5040 of 16 bytes and a cyclic file 5050.
     */
    public static String files(String path) {
        StringBuilder r = new StringBuilder();
        for (int i = 0; i < path.length(); i += 4) card.changeDirectoryWithFID(bytes(path.substring(i, i + 4)));
        row(r, "open", () -> card.open(bytes("C000")) + " " + card.open(bytes("C001")) + " " + card.open(bytes("C000")));
        row(r, "open 5040", () -> {
            int h = card.open(bytes("5040"));
            FileInfo info = card.getFileInfo(h);
            return h + " type " + info.type + " size " + info.size;
        });
        row(r, "write at 4", () -> card.write(2, bytes("A1A2A3"), 4));
        row(r, "write at 14", () -> card.write(2, bytes("B1"), 14));
        row(r, "close", () -> card.close(2));
        row(r, "read back", () -> {
            int h = card.open(bytes("5040"));
            int none = card.readlen(h, 0).length;
            return h + ": " + none + " bytes, then " + hex(card.read(h));
        });
        row(r, "write cyclic", () -> card.write(card.open(bytes("5050")), bytes("01"), 0));
        row(r, "write not open", () -> card.write(77, bytes("01"), 0));
        row(r, "open missing", () -> card.open(bytes("9999")));
        row(r, "select 3 bytes", () -> card.changeDirectoryWithFID(bytes("3F0001")));
        row(r, "directIO", () -> card.directIO(bytes("00A4000C023F00")));
        row(r, "getPublicKey", () -> card.getPublicKey(2));
        row(r, "close", () -> card.close(0));
        row(r, "info", () -> card.getFileInfo(0));
        return r.toString();
    }

    /** A raw command: "directIO <answer>", null when there is none. */
    public static String directIO(String command) {
        try {
            return "directIO " + hex(card.directIO(bytes(command)));
        } catch (CardAdminException e) {
            return "directIO " + thrown(e);
        }
    }

    /** getPublicKey of the current card: a PubKey, or the exception. */
    public static String publicKey(int kid) {
        try {
            at.Quarvel.util.jni.PubKey key = card.getPublicKey(kid);
            return key == null ? "key null" : "key " + hex(key.modulus) + " " + hex(key.exponent);
        } catch (CardAdminException e) {
            return "key " + thrown(e);
        }
    }

    private static Thread running;
    private static int runningHandle;
    private static String runningResult;

    /** Opens the file in the path and reads it on a thread of its own. */
    public static String startRead(String path, String fid) {
        for (int i = 0; i < path.length(); i += 4) card.changeDirectoryWithFID(bytes(path.substring(i, i + 4)));
        try {
            runningHandle = card.open(bytes(fid));
        } catch (CardAdminException e) {
            return thrown(e);
        }
        running = new Thread(() -> {
            try {
                runningResult = "running " + hex(card.read(runningHandle));
            } catch (CardAdminException e) {
                runningResult = "running " + thrown(e);
            }
        });
        running.start();
        return "reading " + runningHandle;
    }

    /** abort on this thread while the read runs on its own. */
    public static String abortRead() {
        return "abort " + code(card.abort()) + "\n";
    }

    /** What the aborted read answered once it ended; then what the next reads answer. */
    public static String abortedRead() {
        StringBuilder r = new StringBuilder();
        try {
            running.join();
        } catch (InterruptedException e) {
            return "interrupted";
        }
        r.append(runningResult).append('\n');
        row(r, "later read", () -> card.read(runningHandle));
        row(r, "later readlen", () -> card.readlen(runningHandle, 4));
        return r.toString();
    }

    interface Call {
        Object run() throws Exception;
    }

    static void row(StringBuilder r, String name, Call call) {
        r.append(name).append(' ');
        try {
            Object value = call.run();
            if (value instanceof Integer) r.append(code((Integer) value));
            else if (value instanceof byte[]) r.append(hex((byte[]) value));
            else r.append(value);
        } catch (CardAdminException e) {
            r.append(thrown(e));
        } catch (Exception e) {
            r.append(e);
        }
        r.append('\n');
    }

    /** Every reader and card native on objects whose peer names nothing. */
    public static String noPeer(int peer) {
        StringBuilder r = new StringBuilder();
        Reader rd = new Reader();
        rd.peer = peer;
        byte[] b = new byte[2];
        row(r, "connect", () -> rd.connect());
        row(r, "disconnect", () -> rd.disconnect());
        row(r, "getName", () -> rd.getName());
        row(r, "getStatus", () -> rd.getStatus());
        row(r, "shallUseGUI", () -> rd.shallUseGUI());
        row(r, "modifyVerification", () -> rd.modifyVerification(1, 2, 3));
        row(r, "performVerification", () -> rd.performVerification(1, 2, 3));
        row(r, "performVerification_EXT", () -> rd.performVerification_EXT(1, 2, 3, 4, 5, b, b));
        row(r, "isSecure", () -> rd.isSecure());
        row(r, "reset", () -> rd.reset(true));
        row(r, "activateVerification", () -> rd.activateVerification(1, 2, 3));
        row(r, "getCTAPIName", () -> rd.getCTAPIName());
        row(r, "activateVerification_KOBIL", () -> rd.activateVerification_KOBIL(1, 2, 3));
        at.Quarvel.util.jni.BankCard c = new at.Quarvel.util.jni.BankCard();
        c.peer = peer;
        row(r, "changeDirectory", () -> c.changeDirectory(b));
        row(r, "abort", () -> c.abort());
        row(r, "signInit", () -> c.signInit(1, b, 2));
        row(r, "signUpdate", () -> c.signUpdate(b));
        row(r, "signFinal", () -> c.signFinal(1, false));
        row(r, "open", () -> c.open(b));
        row(r, "read", () -> c.read(0));
        row(r, "close", () -> c.close(0));
        row(r, "write", () -> c.write(0, b, 0));
        row(r, "changeDirectoryWithFID", () -> c.changeDirectoryWithFID(b));
        row(r, "getCIN", () -> c.getCIN());
        row(r, "getPublicKey", () -> c.getPublicKey(1));
        row(r, "verifyPIN", () -> c.verifyPIN(1, b));
        row(r, "readlen", () -> c.readlen(0, 4));
        row(r, "getATR", () -> c.getATR());
        row(r, "getFBZ", () -> c.getFBZ(1));
        row(r, "activatePIN", () -> c.activatePIN(1, b, 6));
        row(r, "getFileInfo", () -> c.getFileInfo(0));
        row(r, "signFinal_PIN", () -> c.signFinal_PIN(1, false, b));
        row(r, "directIO", () -> c.directIO(b));
        row(r, "changeReferenceData", () -> c.changeReferenceData(1, b, b, 6));
        row(r, "getHashAlg", () -> c.getHashAlg());
        row(r, "changeDirectoryPath", () -> c.changeDirectoryPath(b));
        row(r, "decryptInit", () -> c.decryptInit(1, b));
        row(r, "decryptFinal", () -> c.decryptFinal(1, b));
        row(r, "decryptFinal_PIN", () -> c.decryptFinal_PIN(1, b, b));
        row(r, "unblockPIN", () -> c.unblockPIN(1, b));
        row(r, "isACOS04", () -> c.isACOS04());
        at.Quarvel.util.jni.ASignPCS a = new at.Quarvel.util.jni.ASignPCS();
        a.peer = peer;
        row(r, "unblockPIN2", () -> a.unblockPIN(1, b, b));
        return r.toString();
    }

    /** The current card's peer copied into an object of another card class. */
    public static String foreignPeer() {
        at.Quarvel.util.jni.ASignPCS a = new at.Quarvel.util.jni.ASignPCS();
        a.peer = card.peer;
        at.Quarvel.util.jni.BankCard b = new at.Quarvel.util.jni.BankCard();
        b.peer = card.peer;
        return "unblockPIN " + code(a.unblockPIN(0x81, bytes("12345678"), bytes("123456"))) + "\nisACOS04 " + b.isACOS04()
                + "\n";
    }
}
