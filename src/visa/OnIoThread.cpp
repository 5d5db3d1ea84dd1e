#include "visa/OnIoThread.h"

#include <optional>

namespace visa {
namespace {

// Hands an object made on the I/O thread back there for destruction.
template <class Object>
void disposeOn(IoThread& thread, std::shared_ptr<Object> object)
{
    // The only owner is the job, so the object goes on the worker whenever it runs.
    thread.dispose([object = std::move(object)]() mutable { object.reset(); });
}

// Every call below keeps what it touches alive by itself (the session, copies
// of its arguments): a call left behind at the program's end runs on safely.

// A session opened on the I/O thread, with the views it offers there.
struct OpenedSession {
    std::shared_ptr<Session> session;
    SerialView* serial;
    GpibView* gpib;
};

class SerialViewOnIoThread final : public SerialView {
public:
    SerialViewOnIoThread(IoThread& thread, std::shared_ptr<Session> session, SerialView& view)
        : m_thread(thread), m_session(std::move(session)), m_view(view)
    {
    }
    void setBaudRate(std::int32_t baud) override
    {
        m_thread.run([session = m_session, view = &m_view, baud] { view->setBaudRate(baud); });
    }
    void setDataBits(std::int16_t bits) override
    {
        m_thread.run([session = m_session, view = &m_view, bits] { view->setDataBits(bits); });
    }
    void setDtrAsserted(bool asserted) override
    {
        m_thread.run([session = m_session, view = &m_view, asserted] { view->setDtrAsserted(asserted); });
    }

private:
    IoThread& m_thread;
    std::shared_ptr<Session> m_session; // owns the view
    SerialView& m_view;
};

class GpibViewOnIoThread final : public GpibView {
public:
    GpibViewOnIoThread(IoThread& thread, std::shared_ptr<Session> session, GpibView& view)
        : m_thread(thread), m_session(std::move(session)), m_view(view)
    {
    }
    void setTimeout(std::int32_t milliseconds) override
    {
        m_thread.run([session = m_session, view = &m_view, milliseconds] { view->setTimeout(milliseconds); });
    }

private:
    IoThread& m_thread;
    std::shared_ptr<Session> m_session; // owns the view
    GpibView& m_view;
};

class SessionOnIoThread final : public Session {
public:
    SessionOnIoThread(std::shared_ptr<IoThread> thread, OpenedSession opened)
        : m_thread(std::move(thread)), m_session(std::move(opened.session))
    {
        if (opened.serial)
            m_serial.emplace(*m_thread, m_session, *opened.serial);
        if (opened.gpib)
            m_gpib.emplace(*m_thread, m_session, *opened.gpib);
    }
    ~SessionOnIoThread() override
    {
        m_serial.reset();
        m_gpib.reset();
        disposeOn(*m_thread, std::move(m_session));
    }

    std::int16_t hardwareInterfaceType() const override
    {
        return m_thread->run([session = m_session] { return session->hardwareInterfaceType(); });
    }
    void setTimeout(std::int32_t milliseconds) override
    {
        m_thread->run([session = m_session, milliseconds] { session->setTimeout(milliseconds); });
    }
    void close() override
    {
        m_thread->run([session = m_session] { session->close(); });
    }
    std::int32_t writeString(const std::string& text) override
    {
        return m_thread->run([session = m_session, text] { return session->writeString(text); });
    }
    std::string readString(std::int32_t maxCount) override
    {
        return m_thread->run([session = m_session, maxCount] { return session->readString(maxCount); });
    }
    void dropLateReplies() override
    {
        m_thread->run([session = m_session] { session->dropLateReplies(); });
    }
    void shortenStartQuiet(std::chrono::milliseconds quiet) override
    {
        m_thread->run([session = m_session, quiet] { session->shortenStartQuiet(quiet); });
    }
    SerialView* serial() override { return m_serial ? &*m_serial : nullptr; }
    GpibView* gpib() override { return m_gpib ? &*m_gpib : nullptr; }
    const std::shared_ptr<Session>& behind() const { return m_session; }

private:
    std::shared_ptr<IoThread> m_thread;
    std::shared_ptr<Session> m_session;
    std::optional<SerialViewOnIoThread> m_serial;
    std::optional<GpibViewOnIoThread> m_gpib;
};

class ResourceManagerOnIoThread final : public ResourceManager {
public:
    ResourceManagerOnIoThread(std::shared_ptr<IoThread> thread, std::unique_ptr<ResourceManager> manager)
        : m_thread(std::move(thread)), m_manager(std::move(manager))
    {
    }
    ~ResourceManagerOnIoThread() override { disposeOn(*m_thread, std::move(m_manager)); }

    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        return m_thread->run([manager = m_manager, expression] { return manager->findRsrc(expression); });
    }
    std::unique_ptr<Session> open(const std::string& resource, std::int32_t accessMode, std::int32_t openTimeoutMs,
                                  const std::string& options) override
    {
        OpenedSession opened = m_thread->run([manager = m_manager, resource, accessMode, openTimeoutMs, options] {
            std::shared_ptr<Session> session = manager->open(resource, accessMode, openTimeoutMs, options);
            SerialView* serial = session ? session->serial() : nullptr;
            GpibView* gpib = session ? session->gpib() : nullptr;
            return OpenedSession{std::move(session), serial, gpib};
        });
        if (!opened.session)
            return nullptr;
        return std::make_unique<SessionOnIoThread>(m_thread, std::move(opened));
    }
    std::string deviceOf(const std::string& resource) override
    {
        return m_thread->run([manager = m_manager, resource] { return manager->deviceOf(resource); });
    }
    const std::shared_ptr<ResourceManager>& behind() const { return m_manager; }

private:
    std::shared_ptr<IoThread> m_thread;
    std::shared_ptr<ResourceManager> m_manager;
};

} // namespace

std::shared_ptr<Session> sessionBehind(const std::shared_ptr<Session>& session)
{
    if (const auto* wrapped = dynamic_cast<const SessionOnIoThread*>(session.get()))
        return wrapped->behind();
    return session;
}

std::shared_ptr<Session> sessionOnIoThread(std::shared_ptr<IoThread> thread, std::shared_ptr<Session> session)
{
    if (!thread || !session)
        return session;
    SerialView* serial = session->serial();
    GpibView* gpib = session->gpib();
    return std::make_shared<SessionOnIoThread>(std::move(thread), OpenedSession{std::move(session), serial, gpib});
}

std::shared_ptr<ResourceManager> managerBehind(ResourceManager& manager)
{
    if (const auto* wrapped = dynamic_cast<const ResourceManagerOnIoThread*>(&manager))
        return wrapped->behind();
    return std::shared_ptr<ResourceManager>(std::shared_ptr<void>(), &manager); // lent, not owned
}

ResourceManagerFactory onIoThread(std::shared_ptr<IoThread> thread, ResourceManagerFactory factory)
{
    return [thread, factory](const std::string& name) -> std::unique_ptr<ResourceManager> {
        std::unique_ptr<ResourceManager> manager = thread->run([factory, name] { return factory(name); });
        return std::make_unique<ResourceManagerOnIoThread>(thread, std::move(manager));
    };
}

} // namespace visa
