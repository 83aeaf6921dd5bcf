package qtest;

import at.Quarvel.util.jni.CardAdminException;
import at.Quarvel.util.jni.Reader;
import at.Quarvel.util.jni.ReaderFactory;
import at.Quarvel.util.jni.SCard;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;

/**
 * Java threads that use the natives at once, as a careless Java program does: no
 * locks of their own, objects shared between threads, readers released and cards
 * disconnected under the feet of other threads. Each pattern runs a fixed number of
 * rounds and returns a tally of what the calls answered, one line "outcome count"
 * per outcome: an int result in hex, "ok" for an object, "null", or "!" and the
 * code of a CardAdminException. The reader is released at the end.
 */
public final class CardStress {
    private CardStress() {}

    private static final class Tally {
        private final Map<String, Integer> counts = new TreeMap<>();

        synchronized void add(String outcome) {
            counts.merge(outcome, 1, Integer::sum);
        }

        void code(int code) {
            add(Integer.toHexString(code));
        }

        interface Call {
            Object run() throws CardAdminException;
        }

        /** The call's outcome; its result, or null. */
        Object call(Call call) {
            try {
                Object value = call.run();
                if (value instanceof Integer) code((Integer) value);
                else add(value == null ? "null" : "ok");
                return value;
            } catch (CardAdminException e) {
                add("!" + Integer.toHexString(e.code));
                return null;
            }
        }

        synchronized String text() {
            StringBuilder s = new StringBuilder();
            for (Map.Entry<String, Integer> e : counts.entrySet())
                s.append(e.getKey()).append(' ').append(e.getValue()).append('\n');
            return s.toString();
        }
    }

    /** Waits until the user thread has made another round of calls (or ended). */
    private static void awaitRound(AtomicInteger rounds, Thread user) {
        int before = rounds.get();
        while (rounds.get() == before && user.isAlive()) Thread.onSpinWait();
    }

    private static void runAll(List<Thread> threads) {
        for (Thread t : threads) t.start();
        for (Thread t : threads) {
            try {
                t.join();
            } catch (InterruptedException e) {
                throw new IllegalStateException(e);
            }
        }
    }

    /** Each thread gets the reader, names it, connects, reads the ATR and releases it. */
    public static String getAndRelease(int threadCount, int rounds) {
        Tally tally = new Tally();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < threadCount; ++t) {
            threads.add(new Thread(() -> {
                for (int round = 0; round < rounds; ++round) {
                    Reader reader = ReaderFactory.getReader();
                    if (reader == null) {
                        tally.add("reader null");
                        continue;
                    }
                    tally.call(() -> reader.getName());
                    SCard card = (SCard) tally.call(() -> reader.connect());
                    if (card != null) tally.call(() -> card.getATR());
                    tally.code(ReaderFactory.releaseInstance(reader));
                }
            }));
        }
        runAll(threads);
        return tally.text();
    }

    /** One thread reads the card's file and ATR while this one disconnects and connects again. */
    public static String useWhileDisconnect(int rounds) {
        Tally tally = new Tally();
        Reader reader = ReaderFactory.getReader();
        AtomicReference<SCard> current = new AtomicReference<>((SCard) tally.call(() -> reader.connect()));
        AtomicBoolean done = new AtomicBoolean();
        AtomicInteger userRounds = new AtomicInteger();
        Thread user = new Thread(() -> {
            for (; !done.get(); userRounds.incrementAndGet()) {
                SCard card = current.get();
                if (card == null) continue;
                tally.call(() -> card.getATR());
                tally.call(() -> card.changeDirectoryWithFID(CardRoad.bytes("3F00")));
                tally.call(() -> card.changeDirectoryWithFID(CardRoad.bytes("DF01")));
                Integer handle = (Integer) tally.call(() -> card.open(CardRoad.bytes("C000")));
                if (handle != null && handle >= 0) {
                    tally.call(() -> card.read(handle));
                    tally.call(() -> card.close(handle));
                }
            }
        });
        user.start();
        for (int round = 0; round < rounds; ++round) {
            awaitRound(userRounds, user);
            tally.call(() -> reader.disconnect());
            SCard card = (SCard) tally.call(() -> reader.connect());
            if (card != null) current.set(card);
        }
        done.set(true);
        try {
            user.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        tally.code(ReaderFactory.releaseInstance(reader));
        return tally.text();
    }

    /** One thread calls the reader and its card while this one releases the reader and gets it again. */
    public static String useWhileRelease(int rounds) {
        Tally tally = new Tally();
        AtomicReference<Reader> current = new AtomicReference<>(ReaderFactory.getReader());
        AtomicBoolean done = new AtomicBoolean();
        AtomicInteger userRounds = new AtomicInteger();
        Thread user = new Thread(() -> {
            for (; !done.get(); userRounds.incrementAndGet()) {
                Reader reader = current.get();
                if (reader == null) continue;
                tally.call(() -> reader.getStatus());
                tally.call(() -> reader.getCTAPIName());
                tally.call(() -> reader.isSecure());
                SCard card = (SCard) tally.call(() -> reader.connect());
                if (card != null) tally.call(() -> card.getHashAlg());
            }
        });
        user.start();
        for (int round = 0; round < rounds; ++round) {
            awaitRound(userRounds, user);
            tally.code(ReaderFactory.releaseInstance(current.get()));
            current.set(ReaderFactory.getReader());
        }
        done.set(true);
        try {
            user.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        tally.code(ReaderFactory.releaseInstance(current.get()));
        return tally.text();
    }

    /**
     * Threads sign documents of their own on one card object (signInit, signUpdate in
     * pieces, signFinal_PIN), and one more feeds its own data to whatever signature
     * runs. The tally, then one line "signed <document hex> <signature hex>" per
     * signature.
     */
    public static String signFromThreads(int threadCount, int rounds, int kid, String parameter, String pin) {
        Tally tally = new Tally();
        Reader reader = ReaderFactory.getReader();
        SCard card = (SCard) tally.call(() -> reader.connect());
        List<String> signed = new ArrayList<>();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < threadCount; ++t) {
            final int thread = t;
            threads.add(new Thread(() -> {
                for (int round = 0; round < rounds; ++round) {
                    byte[] document = ("document of thread " + thread + ", round " + round).getBytes();
                    tally.call(() -> card.signInit(kid, CardRoad.bytes(parameter), 2));
                    for (int at = 0; at < document.length; at += 5) {
                        byte[] piece = Arrays.copyOfRange(document, at, Math.min(document.length, at + 5));
                        tally.call(() -> card.signUpdate(piece));
                    }
                    byte[] signature = (byte[]) tally.call(() -> card.signFinal_PIN(kid, false, CardRoad.bytes(pin)));
                    if (signature != null) {
                        synchronized (signed) {
                            signed.add("signed " + CardRoad.hex(document) + " " + CardRoad.hex(signature));
                        }
                    }
                }
            }));
        }
        AtomicBoolean done = new AtomicBoolean();
        Tally intruder = new Tally();
        Thread feeder = new Thread(() -> {
            while (!done.get()) intruder.call(() -> card.signUpdate(CardRoad.bytes("00")));
        });
        feeder.start();
        runAll(threads);
        done.set(true);
        try {
            feeder.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        tally.code(ReaderFactory.releaseInstance(reader));
        StringBuilder s = new StringBuilder(tally.text());
        s.append("intruder ").append(intruder.text().replace('\n', ';')).append('\n');
        for (String line : signed) s.append(line).append('\n');
        return s.toString();
    }
}
